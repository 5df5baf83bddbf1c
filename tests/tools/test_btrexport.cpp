// btrexport run as a program: digests of --raw over the real corpus files (the data
// itself is never kept here), refused files, --info, --key, and --layout CSV on a
// mkcompany company and on files made with the writer.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "btrieve/writer.h"
#include "data/layouts.h"
#include "tests/btrieve/key_segment.h"
#include "tests/support/run_shell.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int exitCode = -1;
    std::string out;  // stdout (only when asked for; otherwise its sha256)
    std::string err;
    std::string outSha256;
};

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class Scratch {
public:
    Scratch() {
        std::string tmpl = (fs::temp_directory_path() / "btrexport-test-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
        dir_ = tmpl;
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    const fs::path& dir() const { return dir_; }

private:
    fs::path dir_;
};

// Runs btrexport with args; stdout goes to a file, kept whole when keepOut is set,
// otherwise only its sha256 (sha256sum from coreutils) is taken.
ToolRun btrexport(const std::string& args, bool keepOut = true, const std::string& env = "") {
    static Scratch scratch;
    const fs::path out = scratch.dir() / "out", err = scratch.dir() / "err";
    const std::string cmd = env + quote(BTREXPORT_PATH) + " " + args + " >" + quote(out.string()) + " 2>" +
                            quote(err.string());
    ToolRun r;
    const int status = testsupport::runShell(cmd);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = slurp(err);
    if (keepOut) {
        r.out = slurp(out);
    } else {
#ifdef _WIN32
        r.outSha256 = testsupport::sha256OfFile(out.string());
#else
        FILE* p = popen(("sha256sum " + quote(out.string())).c_str(), "r");
        char buf[65] = {};
        if (p && std::fread(buf, 1, 64, p) == 64) r.outSha256 = buf;
        if (p) pclose(p);
#endif
    }
    return r;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

// RFC 4180 reader: rows of fields; checks that every record ends with CRLF.
std::vector<std::vector<std::string>> parseCsv(const std::string& s) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    size_t i = 0;
    bool quoted = false, any = false;
    while (i < s.size()) {
        char c = s[i];
        if (quoted) {
            if (c == '"' && i + 1 < s.size() && s[i + 1] == '"') { field += '"'; i += 2; continue; }
            if (c == '"') { quoted = false; ++i; continue; }
            field += c;
            ++i;
            continue;
        }
        if (c == '"' && field.empty()) { quoted = true; any = true; ++i; continue; }
        if (c == ',') { row.push_back(field); field.clear(); ++i; continue; }
        if (c == '\r') {
            EXPECT_TRUE(i + 1 < s.size() && s[i + 1] == '\n') << "bare CR at " << i;
            row.push_back(field);
            rows.push_back(row);
            row.clear();
            field.clear();
            i += 2;
            continue;
        }
        EXPECT_NE(c, '\n') << "bare LF at " << i;
        field += c;
        ++i;
    }
    EXPECT_TRUE(field.empty() && row.empty()) << "last record without CRLF";
    (void)any;
    return rows;
}

std::vector<std::string> fieldNames(const layouts::Layout& l) {
    std::vector<std::string> v;
    for (const auto& f : l.fields) v.push_back(f.name);
    return v;
}

// ---- corpus --------------------------------------------------------------------

// sha256 of `btrexport --raw FILE` for every corpus file the reader reads; nullptr
// for files it refuses (the test then expects a message and a non-zero exit).
struct CorpusEntry {
    const char* path;
    const char* rawSha256;
};
// clang-format off
const CorpusEntry kCorpus[] = {
    // BEGIN DIGESTS
    {"actianui/BtrvOnly.btr", "4fcb05e1f41dbef3ccc14a90d97243b2859be77d25032a7e7a33edaeb216d632"},
    {"actianui/Test_Table.mkd", "0bf0a799d537ed5d844deb1cac38af9c1c77b2b61242df55732db294f3291bad"},
    {"actianui/TomsLesson2.btr", "ec07be51d40f2e0470f759aa252e752ac834e615540ce551e0e0099acb36defc"},
    {"actianui/field.ddf", "be847d8b3d7116e9cb647af5859cb0e106f8d689f1523f90d15378f5ce8cdd37"},
    {"actianui/file.ddf", "4d8414d37fdb6f79e830929ca313c5ca6044088e401ff42a4f97d1f39ad67f8f"},
    {"actianui/images.btr", "86974d97d2c27e6901cf723907fdcc8db5d7c3146d4140b21876bf14dbd6319a"},
    {"actianui/index.ddf", "6ca750097dfde5ee1214aecb2a257644e3f833d4f87a016fe0179a189b1ca99a"},
    {"ccc-fibu/D01-2024/FI0130.BTR", "51923a5860292b4b1a969f4f9dd18f44b260114d97760c2dbb14862bba097eaa"},
    {"ccc-fibu/D01-2024/FI0150.BTR", "60be0c5329e3c1082abdee07372e53b44d9d4d19bea742352260b05c6722f315"},
    {"ccc-fibu/D01-2024/FI1110.btr", "ab2b61a83e24cacca43b95cf02bab26e7920e722f8577a115e15b305a0d1616b"},
    {"ccc-fibu/D01-2024/FI1115.btr", "35d85d1b33e364df5c4130cd661b49015ded56ad40eb055434fb8b45753d24b9"},
    {"ccc-fibu/D01-2024/FI1210.btr", "b8ea6a1f3bcf2b363d6c7fbc44feb182f4ba73f8c58f7179ba0c1d2ca609c8c5"},
    {"ccc-fibu/D01-2024/FI1215.btr", "235e68bb436aaa90c7b6a645ee8c3c98efd1dec51da1f3117d344044bdfccb9f"},
    {"ccc-fibu/D01-2024/FI1310.btr", "9debcf8466c06a96334cdb6c658c2b569010067e5fbb21dc06fca6e6d3eba626"},
    {"ccc-fibu/D01-2024/FI1500.BTR", "0326772aecd921afc83033505806d37166cf8fe635c462bba7e91ca9cfd99b56"},
    {"ccc-fibu/D01-2024/FI2100.btr", "f6bf0412bd23b310e354940f6c02c6648acacefa5aca3a81a95d36b22e54ed8a"},
    {"ccc-fibu/D01-2024/FI2100a.btr", "4c23c5782e6f8e0396cc617be257e3f3a57a3eb6b792b9e129d146d6045b228c"},
    {"ccc-fibu/D01-2024/FI3100.btr", "f264a13f891e6510406847033dc16183300a1eb2db2c3cefb5adf7698a2f5333"},
    {"ccc-fibu/D01-2024/SYP_50.BTR", "ceeca991804c4a84e32f3bb55522b07dc2abc9364fcbf93f87a51ce0015fe0b3"},
    {"ccc-fibu/misc/DAT-D01-ST1100.BTR", "e2553b716fc09435cdab382cece240d31d8de91074d64aefebc5cdf6796bbae8"},
    {"ccc-fibu/misc/DAT-D01-SYFORM.BTR", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"ccc-fibu/misc/DAT-D01-SYMENU.BTR", "a0b8c3c2f64ad01372a7938e408d300154390746dbb86ab0c7e02e197f87ba8c"},
    {"ccc-fibu/misc/DAT-D01-SYPRINT.BTR", "a079ac7ca2d2ac1e7db2c4c0650b60e940a39ff9665a766f825bef70d8d8684c"},
    {"ccc-fibu/misc/DAT-D02-1999-FI2100A.BTR", "9d9fc86c9ee8c5de8c5c226fd046929406cdf41afb2be35e0e52999fd9aef892"},
    {"ccc-fibu/misc/DAT-D02-1999-FI3100.BTR", "47410856fc16d3afba67460510e31590080cc0d08339ab75efd1d48dd458f3c3"},
    {"ccc-fibu/misc/DAT-ST1110.BTR", "bbf6adc87040c39052c9a83bd2e78db0b71db07b69ea3aa46774d55dce356c21"},
    {"ccc-fibu/misc/DAT-SYFORM.BTR", "b1dc4269dd4c1b85976d69d2c2f6f36c8cdfb4b457c66c320957463ee6969de3"},
    {"ccc-fibu/misc/DAT-SYPARA.BTR", "22a10469d1dc4c83695bc7783d85df1249cf59078d76bc878621a0dd66eb0cbf"},
    {"ccc-fibu/misc/DAT-syp_13.btr", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"ccc-fibu/misc/euroDOS-EXE-EURODATA.BTR", "6926070438ad9d96ef49e4490acaf41391b9634d99285f12f7d2283b5a3cbe2f"},
    {"ccc-fibu/misc/sypara.btr", "745fe163ed1be59548275f5ba920f6f5a0c9df463246278183a32bce081c9a9f"},
    {"doclife/CLSCTRS.DDF", "70cc8dc1a8503fe8c8067a9c67aff7baf7f49a74683e50629f59120e20c8ab3d"},
    {"doclife/F10.DAT", "75f6df1d149946d2e2b7e9046e20161bf861ea0e8379a62a5ad5cda80fb60fcd"},
    {"doclife/F11.DAT", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"doclife/F12.DAT", "aebb2f6fb217c044e52acc20cf435c7cbf2485c8c526f9d0da058cce969cf938"},
    {"doclife/F13.DAT", "7fa56f9bab5772f1a3f3f219b8c7e32e6d944b9b0f97755ff9043242f98776f3"},
    {"doclife/F14.DAT", "f87a74819a6344a8bde5dad06d58fec13257c5d1345380dd14d6895095bf906f"},
    {"doclife/F15.DAT", "0a8dc3773a567377fb225b3d8fb2e2d274dc94080e9afe1859003052278f7238"},
    {"doclife/F16.DAT", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"doclife/F17.DAT", "da2552eeb1dd968ae4a73155b58ef6bcd7eeb68e4bfb42f9fdbe1afab108afcf"},
    {"doclife/F18.DAT", "71237c4be3c7781f3ad860bf2a6af4a8825bedaeac4e938e7e1e0d4adfad8733"},
    {"doclife/F19.DAT", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"doclife/F21.DAT", "0ce6c3edadc247a6fa1de251359dd8ace9ddcd0d69424aca617c2124cbc17333"},
    {"doclife/F22.DAT", "a651c2d7f1bd970e6e0e4e87d2768b18eea45bcad778b0c6c939e053700294ca"},
    {"doclife/F23.DAT", "2cdc3e52470fffbb27c46472a7a2de75533394ceb1ad7fed36e4ce730123fbd0"},
    {"doclife/F24.DAT", "5cbd3fca4f5515e8f87ce570b290e3b2c528e4276bd43f704e79d2e8f806ef17"},
    {"doclife/F25.DAT", "fcae0ab07beef05469203d10217fb4490054724f9fb4871175c000ceebf309b3"},
    {"doclife/F26.DAT", "95ec1af453082194d3bb994564467b8d1ce5e5d5c80977ab0f353563696463be"},
    {"doclife/F27.DAT", "002ce429b7aceb583d9b60106bb5e192b1b6c7acfef14e08d575f4b0e5c3bca8"},
    {"doclife/F28.DAT", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"doclife/F29.DAT", "a1277257ec9e8dc6d787873f94b7a130c052f0835093929573ca9468295dc053"},
    {"doclife/F30.DAT", "4e1780baaf57304b5bf95b3007ed62c6418b1268332d6665e9225ffdc7f6edb9"},
    {"doclife/FIELD.DDF", "e5fd81aeaaf413f9a05f9f606e863abbfcef18a49a1b31da77ba1a1cf8b14994"},
    {"doclife/FILE.DDF", "065f00a3c0b9dde45d889a9bd81138107c09f615bb4f6aea212cf0c045873524"},
    {"doclife/INDEX.DDF", "0560e0014c8b85c2d20a2f39fe728107f53014da4e3ec0c7cac08bf93b31e1f5"},
    {"doclife/RELATION.DDF", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"doclife/WINSIZE.DAT", "31c3fefea1eb9802af3b22569584c06bfe6121931d3fd19b9bfba1e63cdbdd15"},
    {"exchequer/BaseDemo/CUST/CustSupp.Dat", "b77b6ce7639443476253c1942b87be6298ccc95851388c7de5aac7893aa3cdce"},
    {"exchequer/BaseDemo/EXCHQNUM.DAT", "bb5582deaa8ca6b6b40234fccf3d7d5718a20997a3052a3e991449238841b898"},
    {"exchequer/BaseDemo/ExchqSS.Dat", "3e7c92d8d132317257eba9b525bc066765399ffe926e68ae89b185183490f257"},
    {"exchequer/BaseDemo/FORMS/PAPRSIZE.DAT", "9b5eaf7a388cca0201a81ef334fa797903fb8fc7e17cecab874509ca11d1d6ea"},
    {"exchequer/BaseDemo/JOBS/JOBCTRL.DAT", "3127340c72ebd18281c439320348ed27969a6070a722f63cae9475af5063d7ef"},
    {"exchequer/BaseDemo/JOBS/JobDet.Dat", "2dcb42d2858be6ff065a57d7e842a1b3bbe13b34e4e3bec835331cfe3e30ec46"},
    {"exchequer/BaseDemo/JOBS/JobHead.Dat", "9481a67a070a8ab14e17c6ca433a2426cfb6e9280f5fa3e3b9264d7f154867c1"},
    {"exchequer/BaseDemo/JOBS/JobMisc.Dat", "4f92bd444c6021b57287fb17d27c0a138669280baea26781cf054e1c1c3dae09"},
    {"exchequer/BaseDemo/MISC/ExStkChk.Dat", "e9fda75a5ef8567bcd520002da13408bf216e85f46648cc8525db95b0fc12a95"},
    {"exchequer/BaseDemo/MISC/SETTINGS.DAT", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"exchequer/BaseDemo/REPORTS/Reports.Dat", "563bc236daf726b0a41bff58c9d4b6991248c0d188610996fe3f9066a6d0d4e9"},
    {"exchequer/BaseDemo/STOCK/MLocStk.Dat", "cba3983924f5c7faa6598a7d5e10d091d316493f01eb5d9c228170978d62b140"},
    {"exchequer/BaseDemo/STOCK/Stock.Dat", "bf7f06fffbb63ca1ce9d0f1440d983b74515422672fbb059185da338ae24fc5b"},
    {"exchequer/BaseDemo/Schedule/Schedule.Dat", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"exchequer/BaseDemo/TOOLS.DAT", "c904900767aed81add060c6916be3c0355c0d5d5a6890d54c54e2e9b6342e95e"},
    {"exchequer/BaseDemo/TRANS/Document.Dat", "f7ddabb2a9e8d6a9c2faf3529050e40c62318df09cac5c18b73b6580ff9324cf"},
    {"exchequer/BaseDemo/TRANS/NomView.Dat", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"exchequer/ENTRPRSE-DDF/COMMENT.DDF", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"exchequer/ENTRPRSE-DDF/FIELD.DDF", "d3ef62c448e22de549aa3a71deff4baf5a205739026eddba327de42606ca370a"},
    {"exchequer/ENTRPRSE-DDF/FIELDEXT.DDF", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"exchequer/ENTRPRSE-DDF/FILE.DDF", "9ac5bf499bdd1c57da0aac933781bbadd7bee66f7db51dd78e420420d589eb78"},
    {"exchequer/ENTRPRSE-DDF/INDEX.DDF", "f0ecbf661916c1496a9d1354f3c10e8fa479401a11b7ebb17e68d662af708b2d"},
    {"exchequer/UDF-DDFs/COMMENT.DDF", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"exchequer/UDF-DDFs/FIELD.DDF", "771b0d4072ee716c1bd95c625834c9eeacf12d02f61ad0765fe3defb0a09cb56"},
    {"exchequer/UDF-DDFs/FIELDEXT.DDF", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"exchequer/UDF-DDFs/FILE.DDF", "de2aa51fd7aaa941dfff9b532f7f17fef98143b7de7b9bb6e3f6dc8a02b3f389"},
    {"exchequer/UDF-DDFs/INDEX.DDF", "1b19cffd877ce51b358b8b5637faa7dc42811b7d88f7a58fbc5de392ab9d7ef1"},
    {"exchequer/plugins/ALLOC.DAT", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"exchequer/plugins/Authorise-Data/PAAUTH.DAT", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"exchequer/plugins/Authorise-Data/PACOMP.DAT", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"exchequer/plugins/Authorise-Data/PAEAR.DAT", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"exchequer/plugins/Authorise-Data/PAGLOBAL.DAT", "3bff91f0fccfc00020f98e5ae806b1382728e20588040ab87fa74882979744c3"},
    {"exchequer/plugins/Authorise-Data/PAUSER.DAT", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"exchequer/plugins/SCOMADM-SALECODE.DAT", "9fdda30996280c0279a5271aca705d95a98e61088b4e7df74ed76764c369dddf"},
    {"exchequer/v600-other/Common-Company.Dat", "917b17ad648a407f7702624bd71b8f489b655e8f7f5120d82a8b701b43bd3c75"},
    {"exchequer/v600-other/Common-GROUPUSR.DAT", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"exchequer/v600-other/Common_Trade-TRADE-TILLNAME.DAT", "f4a5a59601956a8bc85c92b8cd6db34fee836dfe747b8274190182340608cfbb"},
    {"exchequer/v600-other/Sentimail-SMAIL-Sent.Dat", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"exchequer/v600-other/Trade-TRADE-LHEADER.DAT", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"exchequer/v600-other/VRW_WRW-REPORTS-Reports.Dat", "428a956ef2c1354dfab3538f1d567cc6da2f68a40c35862572da9bdd3c07bc3c"},
    {"exchequer/v600-other/VRW_WRW-REPORTS-VRWTREE.DAT", "cd7178b44407c004008291e74ea1f4cd1d193f0533cc6f0a83b77a2d4afb905f"},
    {"majorbbs22/AUDITRAI.DAT", "d5a9f21f45b267c9db3ce1284efff6ef3cfdfbed378f557216bd38743a48050b"},
    {"majorbbs22/CLASSADS.DAT", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"majorbbs22/CLASSRSP.DAT", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"majorbbs22/EMAIL.DAT", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"majorbbs22/SYSVBL.DAT", "072721c05508e2659ea76ab25827d2920f98828999965f3883d8a86f2c8d1f5f"},
    {"majorbbs22/USRACC.DAT", "958c88d51766167c8a83d8d1d35447e9eb09359166c41f264f7f173d875499b6"},
    {"mbbsemu-2020-10/MBBSEMU.DAT", "4549eb53f37df691f1faa206d1704b41a3915a969e9bac5d55895cd9efbd6db9"},
    {"mbbsemu/MBBSEMU.DAT", "7a31be108f84ac2491cb7ed0c61b325e0662044fb3b256bcd350b2f6da793966"},
    {"wbtrv32/GALTELA.DAT", "a34043846c2525ee31867b221dbdbf3d6cb5cfdcec0f98396de71b51eb1504b7"},
    {"wbtrv32/MBMGEPLT.DAT", "f70181bf73fd9b427b6f5ea89bb8c84f9edcced8441a30d041cfe9aafe711657"},
    {"wbtrv32/MULTIACS.DAT", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"wbtrv32/VARIABLE.BCR", nullptr},
    {"wbtrv32/VARIABLE.DAT", "13557095649f81774354b8456c7855a7d27383c51bedaa4093c2adced569e808"},
    {"wbtrv32/WGSMENU2.DAT", "ed544380cc274bed2bdb13f4c5989c47ef56ee5ca623e2a8cabb628d1a79a46e"},
    {"xtrieve/TEST.DAT", "7830e7d33b28e185d93ff8489a5230be448c439fc464a2eb5277d8d62800087c"},
    {"xtrieve/TESTE.DAT", "2d01c02c4039131e65c1508ad4e466c701846cf0db43c5beeeea9560c93cc987"},
    // END DIGESTS
};
// clang-format on

fs::path corpusDir() { return fs::path(CORPUS_DIR); }

TEST(BtrexportCorpus, RawOutputOfEveryReadableFileMatchesItsDigest) {
    if (!fs::is_directory(corpusDir())) GTEST_SKIP() << "corpus not found at " << corpusDir();
    std::set<std::string> listed;
    for (const CorpusEntry& e : kCorpus) {
        listed.insert(e.path);
        const fs::path p = corpusDir() / e.path;
        const ToolRun r = btrexport("--raw " + quote(p.string()), false);
        if (e.rawSha256) {
            EXPECT_EQ(r.exitCode, 0) << e.path << ": " << r.err;
            EXPECT_EQ(r.outSha256, e.rawSha256) << e.path;
        } else {
            EXPECT_NE(r.exitCode, 0) << e.path << " was expected to be refused";
            EXPECT_NE(r.err.find(p.string()), std::string::npos) << e.path << ": " << r.err;
            EXPECT_NE(r.err.find("status "), std::string::npos) << e.path << ": " << r.err;
        }
    }
    // A file added to the corpus gets a digest here too.
    for (const auto& entry : fs::recursive_directory_iterator(corpusDir())) {
        if (!entry.is_regular_file()) continue;
        const std::string rel = fs::relative(entry.path(), corpusDir()).generic_string();
        EXPECT_TRUE(listed.count(rel)) << rel << " has no digest";
    }
}

TEST(BtrexportCorpus, InfoSaysWhichIndexServesEachKey) {
    // Files whose trees check out, 6.0 and 8.0, are read through them; a key that
    // leaves null keys out says how many.
    struct Case { const char* rel; const char* line; };
    for (const Case& c : {Case{"wbtrv32/GALTELA.DAT", "key 1 index: file B-tree"},
                          Case{"exchequer/BaseDemo/CUST/CustSupp.Dat", "key 0 index: file B-tree"},
                          Case{"exchequer/BaseDemo/JOBS/JobDet.Dat", "key 3 index: file B-tree"},
                          Case{"exchequer/BaseDemo/JOBS/JobDet.Dat", "key 3 null keys left out: 3783"},
                          Case{"exchequer/BaseDemo/TRANS/Document.Dat", "key 12 null keys left out: 7088"}}) {
        const fs::path p = corpusDir() / c.rel;
        if (!fs::exists(p)) GTEST_SKIP() << "corpus not found";
        const ToolRun r = btrexport("--info " + quote(p.string()));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto l = lines(r.out);
        EXPECT_NE(std::find(l.begin(), l.end(), std::string(c.line)), l.end()) << c.rel << "\n" << r.out;
    }
}

TEST(BtrexportCorpus, EveryKeyOfEvery8xAnd9xFileIsServedByItsOwnTree) {
    if (!fs::is_directory(corpusDir())) GTEST_SKIP() << "corpus not found at " << corpusDir();
    size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpusDir())) {
        if (!entry.is_regular_file()) continue;
        const ToolRun r = btrexport("--info " + quote(entry.path().string()));
        if (r.exitCode != 0 || r.out.find("format family: 8.x/9.x") == std::string::npos) continue;
        ++files;
        for (const std::string& l : lines(r.out))
            if (l.find(" index: ") != std::string::npos) {
                EXPECT_NE(l.find(" index: file B-tree"), std::string::npos) << entry.path() << ": " << l;
            }
    }
    EXPECT_GE(files, 30u);
}

TEST(BtrexportCorpus, RawByANullKeyLeavesItsNullRecordsOut) {
    const fs::path p = corpusDir() / "exchequer/BaseDemo/JOBS/JobDet.Dat";
    if (!fs::exists(p)) GTEST_SKIP() << "corpus not found";
    // 5,388 records; key 3 leaves 3,783 out, key 1 28, key 0 none.
    for (const auto& [key, rows] : std::vector<std::pair<int, size_t>>{{3, 1605}, {1, 5360}, {0, 5388}}) {
        const ToolRun r = btrexport("--raw --key " + std::to_string(key) + " " + quote(p.string()));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(lines(r.out).size(), rows) << "key " << key;
    }
}

TEST(BtrexportCorpus, InfoOfAKnownFileStatesItsHeader) {
    const fs::path p = corpusDir() / "mbbsemu/MBBSEMU.DAT";
    if (!fs::exists(p)) GTEST_SKIP() << "corpus not found";
    const ToolRun r = btrexport("--info " + quote(p.string()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto l = lines(r.out);
    auto has = [&](const std::string& line) { return std::find(l.begin(), l.end(), line) != l.end(); };
    EXPECT_TRUE(has("page size: 512")) << r.out;
    EXPECT_TRUE(has("record length: 74")) << r.out;
    EXPECT_TRUE(has("physical record length: 90")) << r.out;
    EXPECT_TRUE(has("record count: 4")) << r.out;
    EXPECT_TRUE(has("keys: 4")) << r.out;
    // Key 0 allows duplicates, key 1 is modifiable, key 2 both (extended types, 0x0100).
    EXPECT_TRUE(has("key 0 segment 0: position 2, length 32, type 11 (zstring), flags 0x0101")) << r.out;
    EXPECT_TRUE(has("key 2 segment 0: position 38, length 32, type 11 (zstring), flags 0x0103")) << r.out;
    EXPECT_TRUE(has("key 3 segment 0: position 70, length 4, type 15 (autoincrement), flags 0x0100")) << r.out;
    EXPECT_TRUE(has("key 1 segment 0: position 34, length 4, type 1 (integer), flags 0x0102")) << r.out;

    // --raw by key 1 (integer): 3444, 7776, 1052234073 and -615634567 give the order
    // -615634567, 3444, 7776, 1052234073; each line is the 74-byte record in hex.
    const ToolRun raw = btrexport("--raw --key 1 " + quote(p.string()));
    ASSERT_EQ(raw.exitCode, 0) << raw.err;
    const auto rows = lines(raw.out);
    ASSERT_EQ(rows.size(), 4u);
    const char* expectKey1[] = {"79294edb", "740d0000", "601e0000", "59d1b73e"};
    for (size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 148u);
        EXPECT_EQ(rows[i].find_first_not_of("0123456789abcdef"), std::string::npos);
        EXPECT_EQ(rows[i].substr(68, 8), expectKey1[i]) << i;
    }
}

// ---- arguments and refusals -------------------------------------------------------

TEST(BtrexportArguments, BadArgumentsGiveUsageAndExitTwo) {
    for (const char* args : {"", "--raw", "--bogus x.dat", "--layout", "--layout vendors x.dat",
                             "--raw --key x.dat", "--raw --key -1 x.dat", "--raw --key 1 --key 2 x.dat",
                             "--info a.dat b.dat", "--info --key 1 a.dat"}) {
        const ToolRun r = btrexport(args);
        EXPECT_EQ(r.exitCode, 2) << args;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << args << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << args;
    }
}

TEST(BtrexportArguments, UnreadableFilesNameTheFileAndTheStatus) {
    Scratch s;
    const std::string missing = (s.dir() / "missing.dat").string();
    for (const char* mode : {"--info", "--raw", "--layout customer"}) {
        const ToolRun r = btrexport(std::string(mode) + " " + quote(missing));
        EXPECT_EQ(r.exitCode, 1) << mode;
        EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("status 12"), std::string::npos) << r.err;
    }
    const fs::path junk = s.dir() / "junk.dat";
    std::ofstream(junk, std::ios::binary) << std::string(4096, 'x');
    const ToolRun r = btrexport("--raw " + quote(junk.string()));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(junk.string()), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("status "), std::string::npos) << r.err;
}

// ---- layouts --------------------------------------------------------------------

class BtrexportCompany : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        scratch_ = new Scratch;
        const std::string cmd = quote(MKCOMPANY_PATH) + " " + quote((scratch_->dir() / "co").string()) +
                                " --customers 40 --journal-rows 300 --seed 5 >/dev/null";
        ASSERT_EQ(testsupport::runShell(cmd), 0);
    }
    static void TearDownTestSuite() {
        delete scratch_;
        scratch_ = nullptr;
    }
    static std::string file(const char* name) { return quote((scratch_->dir() / "co" / name).string()); }
    static Scratch* scratch_;
};
Scratch* BtrexportCompany::scratch_ = nullptr;

TEST_F(BtrexportCompany, CustomerCsvHasTheLayoutHeaderAndOneRowPerRecordByKey) {
    const ToolRun info = btrexport("--info " + file("customer.dat"));
    ASSERT_EQ(info.exitCode, 0) << info.err;
    const auto infoLines = lines(info.out);
    EXPECT_NE(std::find(infoLines.begin(), infoLines.end(), "record length: 2790"), infoLines.end());
    EXPECT_NE(std::find(infoLines.begin(), infoLines.end(), "keys: 5"), infoLines.end());

    const ToolRun r = btrexport("--layout customer " + file("customer.dat"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto rows = parseCsv(r.out);
    ASSERT_EQ(rows.size(), 41u);
    EXPECT_EQ(rows[0], fieldNames(layouts::customer()));
    for (size_t i = 1; i < rows.size(); ++i) ASSERT_EQ(rows[i].size(), 26u) << i;
    // Key 0 is custID: ascending byte order (the IDs are plain ASCII).
    for (size_t i = 2; i < rows.size(); ++i) EXPECT_LT(rows[i - 1][0], rows[i][0]);
    // ARbalance parses back as a number; nindex is an integer.
    for (size_t i = 1; i < rows.size(); ++i) {
        EXPECT_NO_THROW((void)std::stod(rows[i][6])) << rows[i][6];
        EXPECT_EQ(rows[i][25].find_first_not_of("-0123456789"), std::string::npos) << rows[i][25];
    }

    // --key 4 orders by nindex.
    const ToolRun byNindex = btrexport("--layout customer --key 4 " + file("customer.dat"));
    ASSERT_EQ(byNindex.exitCode, 0) << byNindex.err;
    const auto rows4 = parseCsv(byNindex.out);
    ASSERT_EQ(rows4.size(), rows.size());
    for (size_t i = 2; i < rows4.size(); ++i) EXPECT_LE(std::stol(rows4[i - 1][25]), std::stol(rows4[i][25]));
    // The same records, in another order.
    auto sorted = [](std::vector<std::vector<std::string>> v) { std::sort(v.begin(), v.end()); return v; };
    EXPECT_EQ(sorted(rows), sorted(rows4));

    const ToolRun badKey = btrexport("--raw --key 9 " + file("customer.dat"));
    EXPECT_EQ(badKey.exitCode, 1);
    EXPECT_NE(badKey.err.find("status 6"), std::string::npos) << badKey.err;
}

TEST_F(BtrexportCompany, JournalCsvWritesDatesLogicalsAndNumbers) {
    const ToolRun r = btrexport("--layout journal " + file("journal.dat"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto rows = parseCsv(r.out);
    ASSERT_EQ(rows.size(), 301u);
    EXPECT_EQ(rows[0], fieldNames(layouts::journal()));
    int quotes = 0, dated = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
        const auto& row = rows[i];
        ASSERT_EQ(row.size(), 22u);
        const std::string& date = row[8];
        EXPECT_TRUE(date.empty() || (date.size() == 10 && date[4] == '-' && date[7] == '-')) << date;
        EXPECT_TRUE(row[19] == "0" || row[19] == "1") << row[19];
        quotes += row[19] == "1";
        dated += !date.empty();
        EXPECT_NO_THROW((void)std::stod(row[12])) << row[12];  // ARamount
        if (i > 1) {
            EXPECT_LE(std::stol(rows[i - 1][6]), std::stol(row[6]));  // key 0: nindex
        }
    }
    EXPECT_GT(quotes, 0);
    EXPECT_GT(dated, 0);
    // The raw form has the same number of records, each 259 bytes.
    const auto raw = lines(btrexport("--raw " + file("journal.dat")).out);
    ASSERT_EQ(raw.size(), 300u);
    for (const auto& l : raw) EXPECT_EQ(l.size(), 518u);
}

// ---- CSV text: quoting and Windows-1252 -----------------------------------------

// Windows-1252 0x80..0x9F; 0 where the code page leaves the byte undefined.
const unsigned kCp1252High[32] = {0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
                                  0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

std::vector<unsigned> decodeUtf8(const std::string& s) {
    std::vector<unsigned> cps;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        int n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 0;
        if (n == 0 || i + n > s.size()) { ADD_FAILURE() << "bad UTF-8 at " << i; return cps; }
        unsigned cp = n == 1 ? c : n == 2 ? (c & 0x1F) : (c & 0x0F);
        for (int k = 1; k < n; ++k) {
            const unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc >> 6) != 2) { ADD_FAILURE() << "bad continuation at " << i; return cps; }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800)) ADD_FAILURE() << "overlong at " << i;
        cps.push_back(cp);
        i += n;
    }
    return cps;
}

TEST(BtrexportCsv, EveryWindows1252ByteConvertsAndSpecialFieldsAreQuoted) {
    // Journal rows whose 115-byte text field skip115 carries all 256 byte values, and
    // whose invoice numbers need quoting or not.
    const layouts::Layout& j = layouts::journal();
    const btrieve::FieldDef* skip = j.field("skip115");
    const btrieve::FieldDef* inv = j.field("InvNumber");
    const btrieve::FieldDef* nindex = j.field("nindex");
    ASSERT_TRUE(skip && inv && nindex);
    const char* numbers[] = {"plain", "a,b", "say \"hi\"", "two\r\nlines", "lf\nonly", "cr\ronly", "", "x"};
    std::vector<std::string> records;
    for (int r = 0; r < 8; ++r) {
        std::string rec(j.recordLength, ' ');
        for (uint32_t k = 0; k < skip->length; ++k) {
            const int b = r * 32 + static_cast<int>(k);
            rec[skip->offset + k] = static_cast<char>(k < 32 ? b : 'z');
        }
        rec[nindex->offset] = static_cast<char>(r);
        rec[nindex->offset + 1] = 0;
        rec.replace(inv->offset, std::string(numbers[r]).size(), numbers[r]);
        // Numbers and dates at zero: a valid double 0 and an empty date.
        for (const char* f : {"trxnumber", "Period", "Journalid", "nrecord", "ARamount", "AmountReceived",
                              "Date", "DateCleared", "GoodThru", "Quote"}) {
            const btrieve::FieldDef* d = j.field(f);
            std::fill_n(rec.begin() + d->offset, d->length, '\0');
        }
        records.push_back(rec);
    }
    btrieve::WriterOptions o;
    o.recordLength = j.recordLength;
    o.keys.push_back({{testkeys::keySegment(nindex->offset, 2, btrieve::DataType::Integer, btrieve::keyflag::Duplicates)}});
    Scratch s;
    const fs::path path = s.dir() / "journal.dat";
    ASSERT_EQ(btrieve::writeFile(path.string(), o, records), btrieve::Status::Success);

    const ToolRun r = btrexport("--layout journal " + quote(path.string()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto rows = parseCsv(r.out);
    ASSERT_EQ(rows.size(), 9u);
    std::vector<unsigned> seen;
    for (int row = 1; row <= 8; ++row) {
        ASSERT_EQ(rows[row].size(), 22u) << row;
        EXPECT_EQ(rows[row][13], numbers[row - 1]);
        EXPECT_EQ(rows[row][8], "");     // no date
        EXPECT_EQ(rows[row][12], "0");   // ARamount 0.0 in shortest form
        EXPECT_EQ(rows[row][19], "0");
        const auto cps = decodeUtf8(rows[row][18]);
        ASSERT_GE(cps.size(), 32u) << row;
        seen.insert(seen.end(), cps.begin(), cps.begin() + 32);
    }
    ASSERT_EQ(seen.size(), 256u);
    for (unsigned b = 0; b < 256; ++b) {
        unsigned want = b;
        if (b >= 0x80 && b < 0xA0 && kCp1252High[b - 0x80]) want = kCp1252High[b - 0x80];
        EXPECT_EQ(seen[b], want) << "byte " << b;
    }
    // The quoted forms on the wire.
    EXPECT_NE(r.out.find(",\"a,b\","), std::string::npos);
    EXPECT_NE(r.out.find(",\"say \"\"hi\"\"\","), std::string::npos);
    EXPECT_NE(r.out.find(",\"two\r\nlines\","), std::string::npos);
    EXPECT_NE(r.out.find(",plain,"), std::string::npos);
}

// ---- damaged files ------------------------------------------------------------

// A copy of src in dir, changed by patch; its quoted path.
std::string patchedCopy(const fs::path& dir, const fs::path& src, const std::function<void(std::string&)>& patch) {
    std::string bytes = slurp(src);
    patch(bytes);
    const fs::path p = dir / src.filename();
    std::ofstream(p, std::ios::binary) << bytes;
    return quote(p.string());
}
std::string damagedCopy(const fs::path& dir, const fs::path& src, size_t at, int mask) {
    return patchedCopy(dir, src, [&](std::string& b) { b[at] = static_cast<char>(b[at] ^ mask); });
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A usage count damaged so that the counts no longer tell which control record
// copy is current (equal counts; the higher on the copy marked stale): the export
// reads every row as before, and --info says which copy was read and why.
TEST(BtrexportDamage, ControlRecordCopiesTheCountsCannotTellApart) {
    Scratch s;
    struct Case {
        const char* format;
        const char* file;
        const char* layout;
        size_t at;
        int mask;
    };
    for (const Case& c : {Case{"6", "journal.dat", "journal", 4100, 1}, Case{"6", "customer.dat", "customer", 4, 2},
                          Case{"8", "journal.dat", "journal", 8198, 1}, Case{"8", "customer.dat", "customer", 6, 2}}) {
        SCOPED_TRACE(std::string(c.format) + " " + c.file);
        const fs::path co = s.dir() / (std::string("co") + c.format);
        if (!fs::exists(co)) {
            const std::string cmd = quote(MKCOMPANY_PATH) + " " + quote(co.string()) +
                                    " --customers 30 --journal-rows 200 --format " + c.format + " >/dev/null";
            ASSERT_EQ(testsupport::runShell(cmd), 0);
        }
        const fs::path damaged = s.dir() / c.format;
        fs::create_directories(damaged);
        const std::string copy = damagedCopy(damaged, co / c.file, c.at, c.mask);
        const ToolRun original = btrexport(std::string("--layout ") + c.layout + " " + quote((co / c.file).string()));
        const ToolRun r = btrexport(std::string("--layout ") + c.layout + " " + copy);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_GT(lines(r.out).size(), 30u);
        EXPECT_TRUE(r.out == original.out);
        const ToolRun info = btrexport("--info " + copy);
        EXPECT_TRUE(contains(info.out, "control record: the copy at page ")) << info.out;
    }
}

// A fragment pointer damaged so that two records decode to the same bytes, or a
// record's pointer to its variable part damaged to "none" so that its tail is
// lost, or past the file's end: refused, naming the file and the page, before any row.
TEST(BtrexportDamage, AFragmentClaimedByTwoRecordsOrByNoneIsRefused) {
    const fs::path src = corpusDir() / "exchequer/BaseDemo/REPORTS/Reports.Dat";
    if (!fs::exists(src)) GTEST_SKIP() << src;
    Scratch s;
    const std::string copy = damagedCopy(s.dir(), src, 0x1043a, 0x74);
    const ToolRun r = btrexport("--raw " + copy);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, (s.dir() / "Reports.Dat").string() + ": status 1003 (file is corrupt): variable page 88"))
        << r.err;
    EXPECT_TRUE(r.out.empty());
    const ToolRun info = btrexport("--info " + copy);
    EXPECT_TRUE(contains(info.out, "damage: variable page 88: fragment 3 is claimed by two records")) << info.out;

    // Four bytes set to FF: a record's pointer to its variable part becomes "none"
    // (pre-6, and a 6.x file of one record, whose tail's page no record reaches
    // now), or, two of them, leads past the end of the file: damage, not a file
    // cut short.
    struct Case {
        const char* file;
        size_t at, bytes;
        const char* message;
    };
    std::string missing;
    for (const Case& c : {Case{"wbtrv32/VARIABLE.DAT", 0xb4fe, 4,
                               "VARIABLE.DAT: status 1003 (file is corrupt): variable page 97: fragment 2 is claimed "
                               "by no record"},
                          Case{"wbtrv32/VARIABLE.DAT", 0xb4fe, 2,
                               "VARIABLE.DAT: status 54 (corrupt variable-length record): a record's chain reaches "
                               "variable page 16711935, past the end of the file"},
                          Case{"exchequer/BaseDemo/FORMS/PAPRSIZE.DAT", 0x1532, 4,
                               "PAPRSIZE.DAT: status 1003 (file is corrupt): variable page 5: fragment 0 is claimed "
                               "by no record"}}) {
        const fs::path file = corpusDir() / c.file;
        if (!fs::exists(file)) {
            missing += std::string(" ") + c.file;
            continue;
        }
        const std::string damaged =
            patchedCopy(s.dir(), file, [&](std::string& b) { b.replace(c.at, c.bytes, c.bytes, '\xFF'); });
        const ToolRun cut = btrexport("--raw " + damaged);
        EXPECT_EQ(cut.exitCode, 1) << c.message;
        EXPECT_TRUE(contains(cut.err, c.message)) << cut.err;
        EXPECT_TRUE(cut.out.empty()) << c.message;
    }
    if (!missing.empty()) GTEST_SKIP() << "not found:" << missing;
}

// A key segment moved past the end of every record: reading by that key fails,
// naming it; the other keys read as before, and --info shows them.
TEST(BtrexportDamage, AKeyOutsideTheRecordFailsAlone) {
    const fs::path src = corpusDir() / "ccc-fibu/D01-2024/FI0130.BTR";
    if (!fs::exists(src)) GTEST_SKIP() << src;
    Scratch s;
    const std::string copy = patchedCopy(s.dir(), src, [](std::string& b) { b[0x124] = b[0x125] = '\xFF'; });
    const ToolRun r = btrexport("--raw " + copy);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "key 0 does not fit a record")) << r.err;
    const ToolRun byKey1 = btrexport("--raw --key 1 " + copy, false);
    EXPECT_EQ(byKey1.exitCode, 0) << byKey1.err;
    EXPECT_EQ(byKey1.outSha256, btrexport("--raw --key 1 " + quote(src.string()), false).outSha256);
    const ToolRun info = btrexport("--info " + copy);
    EXPECT_EQ(info.exitCode, 0);
    EXPECT_TRUE(contains(info.out, "key 0 index: unavailable (status 1003")) << info.out;
    EXPECT_TRUE(contains(info.out, "key 1 index: file B-tree")) << info.out;
}

// A collating table damaged so that it sorts digits backwards: the file's index
// still lists every record once, so its order is the file's and the rows come out
// as before, with a word on stderr; --info says the same of both keys.
TEST(BtrexportDamage, ADamagedCollatingTableYieldsToTheFilesIndex) {
    const fs::path src = corpusDir() / "ccc-fibu/D01-2024/FI0150.BTR";
    if (!fs::exists(src)) GTEST_SKIP() << src;
    Scratch s;
    const std::string copy = patchedCopy(s.dir(), src, [](std::string& b) {
        for (int c = '0'; c <= '9'; ++c) b[0x40F + c] = static_cast<char>('0' + '9' - c);  // the table of page 1
    });
    for (const char* key : {"", "--key 1 "}) {
        const ToolRun r = btrexport(std::string("--raw ") + key + copy, false);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.outSha256, btrexport(std::string("--raw ") + key + quote(src.string()), false).outSha256) << key;
        EXPECT_TRUE(contains(r.err, "the file's index holds every record once but in another order than the key's "
                                    "alternate collating sequence gives, so that table may be damaged"))
            << r.err;
    }
    const ToolRun info = btrexport("--info " + copy);
    EXPECT_TRUE(contains(info.out, "key 0 index listing: every record once")) << info.out;
    EXPECT_TRUE(contains(info.out, "key 1 index listing: every record once")) << info.out;
}

// An 8.0 file whose record length is 0 in both control record copies is damage.
TEST(BtrexportDamage, An8xRecordLengthOfZeroIsDamage) {
    const fs::path src = corpusDir() / "exchequer/BaseDemo/ExchqSS.Dat";
    if (!fs::exists(src)) GTEST_SKIP() << src;
    Scratch s;
    const std::string copy = patchedCopy(s.dir(), src, [](std::string& b) {
        for (size_t copyAt : {0, 2 * 2048}) b[copyAt + 0x16] = b[copyAt + 0x17] = 0;
    });
    const ToolRun r = btrexport("--raw " + copy);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "ExchqSS.Dat: status 1003 (file is corrupt)")) << r.err;
}

// An index entry whose key no longer matches its record: the records are right,
// so the export goes on without the file's index and says so.
TEST_F(BtrexportCompany, AnIndexThatDisagreesWithTheRecordsIsLeftAside) {
    const fs::path src = scratch_->dir() / "co" / "journal.dat";
    const std::string bytes = slurp(src);
    const auto at = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])); };
    // The journal's key 0 tree is one leaf; find it through the current page table
    // (page 2 or 3, the higher usage count) and change its second entry's key.
    const size_t ps = 4096;
    const size_t pat = at(2 * ps + 4) > at(3 * ps + 4) ? 2 * ps : 3 * ps;
    size_t leaf = 0;
    for (size_t e = pat + 8; e < pat + ps && !leaf; e += 4)
        if (at(e + 1) == 0x80) leaf = (at(e) << 16 | at(e + 3) << 8 | at(e + 2)) * ps;
    ASSERT_NE(leaf, 0u);
    Scratch s;
    const std::string copy = damagedCopy(s.dir(), src, leaf + 12 + 14 + 4, 1);
    const ToolRun r = btrexport("--layout journal " + copy);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.out == btrexport("--layout journal " + file("journal.dat")).out);
    EXPECT_TRUE(contains(r.err, "key 0: read without the file's index, which disagrees with the records (an entry's key differs from its record's)"))
        << r.err;
}

}  // namespace
