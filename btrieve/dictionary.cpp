#include "btrieve/dictionary.h"

namespace btrieve {

class Dictionary::Impl {
public:
    std::string folder;
    std::unique_ptr<CodePage> codePage;
    std::vector<DictTable> tables;
};

Dictionary::Dictionary(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Dictionary::~Dictionary() = default;

Status Dictionary::open(const std::string& folder, const DictionaryOptions&, std::unique_ptr<Dictionary>& out,
                        std::string& message) {
    out.reset();
    message = "FILE.DDF: not found in " + folder;
    return Status::FileNotFound;
}

const std::string& Dictionary::folder() const { return impl_->folder; }
const CodePage& Dictionary::codePage() const { return *impl_->codePage; }
const std::vector<DictTable>& Dictionary::tables() const { return impl_->tables; }
const DictTable* Dictionary::find(std::string_view) const { return nullptr; }
Status Dictionary::openFile(const DictTable&, std::unique_ptr<File>& out) const {
    out.reset();
    return Status::FileNotFound;
}

bool resolveWindowsPath(const std::string&, std::string_view, std::string& path, std::string& relativePath,
                        std::string& problem) {
    path.clear();
    relativePath.clear();
    problem = "no file here";
    return false;
}

}  // namespace btrieve
