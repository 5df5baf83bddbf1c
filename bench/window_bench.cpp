// Benchmarks of the main window itself: the real COpenInvoiceDlg on the offscreen
// platform over the benchmark companies of bench/run (bench/data/small: 10,000
// customers and 100,000 journal rows; bench/data/large: 100,000 and 1,000,000), with
// the platform's test doubles so that no sound plays and no message waits.
//
//   BM_WindowLookup      one change of the lookup box's text, to the customer's fields
//                        shown (warm: the window is up and has looked up before)
//   BM_WindowLookupUnfollowed  the same with the company files' changes not followed
//                        (BTRIEVE_FOLLOW_CHANGES=0): what the look at the files
//                        before and after each read costs
//   BM_WindowDetail      one "Show Detail" click for the customer with 20 open
//                        invoices ("AARDVARK"), to the list filled
//   BM_WindowStart       DoModal to the first customer shown: the window and its
//                        controls made, the company found and its files opened
//   BM_WindowInit        the window's initialisation alone (OnInitDialog)
//
// bench/ratios.py sets them beside each other and beside engine_bench's one
// sequential read of customer.dat.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/OpenInvoice.h"
#include "app/OpenInvoiceDlg.h"
#include "btrieve/file.h"
#include "btrieve/table.h"
#include "btrieve/value.h"
#include "data/layouts.h"
#include "platform/testing.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string companyFolder(const char* size) {
    const char* d = std::getenv("BENCH_DATA");
    const std::string dir = std::string(d ? d : "bench/data") + "/" + size;
    return QDir(QString::fromStdString(dir)).absolutePath().toStdString();
}

// A current folder of its own whose data-path file names the company, for as long as
// it lives.
class CurrentFolder {
public:
    explicit CurrentFolder(const char* size) : previous_(QDir::currentPath()) {
        if (!folder_.isValid()) std::abort();
        const std::string company = companyFolder(size);
        QDir::setCurrent(folder_.path());
        std::ofstream("DataPath.kxi", std::ios::binary) << company;
    }
    ~CurrentFolder() { QDir::setCurrent(previous_); }

private:
    QTemporaryDir folder_;
    QString previous_;
};

// Runs the real window over the company; body runs once the window is up.
void withWindow(const char* size, const std::function<void(COpenInvoiceDlg&)>& body) {
    CurrentFolder here(size);
    COpenInvoiceDlg dlg;
    QObject guard;
    QTimer::singleShot(0, &guard, [&] {
        body(dlg);
        dlg.EndDialog(framework::IDCANCEL);
    });
    dlg.DoModal();
}

QLineEdit* edit(COpenInvoiceDlg& dlg, int id) { return qobject_cast<QLineEdit*>(dlg.GetDlgItem(id)); }

// A spread of typed texts over the key range: the first three, four and five letters
// of 64 customer IDs taken at even steps, each differing from the one before it.
std::vector<QString> typedTexts(const char* size) {
    std::unique_ptr<btrieve::File> file;
    btrieve::OpenOptions options;
    options.ownerName = layouts::customer().ownerName;
    if (btrieve::File::open(companyFolder(size) + "/customer.dat", file, options) != btrieve::Status::Success)
        std::abort();
    btrieve::Table table(std::shared_ptr<btrieve::File>(std::move(file)));
    const long step = static_cast<long>(table.info().recordCount / 64);
    std::vector<QString> texts;
    table.moveFirst();
    for (int i = 0; i < 64 && table.hasCurrent(); ++i) {
        btrieve::Value id;
        btrieve::decodeField(*layouts::customer().field("custID"), table.currentRecord(), id);
        const QString text = QString::fromLatin1(std::get<std::string>(id)).left(3 + i % 3);
        if (texts.empty() || texts.back() != text) texts.push_back(text);
        for (long k = 0; k < step; ++k) table.moveNext();
    }
    return texts;
}

void BM_WindowLookup(benchmark::State& state, const char* size) {
    const std::vector<QString> texts = typedTexts(size);
    withWindow(size, [&](COpenInvoiceDlg& dlg) {
        QLineEdit* box = edit(dlg, IDC_SEARCH_EDIT);
        for (const QString& t : texts) box->setText(t);  // warm
        size_t i = 0;
        for (auto _ : state) box->setText(texts[i++ % texts.size()]);
        if (edit(dlg, IDC_CUSTID_EDIT)->text().isEmpty()) state.SkipWithError("no customer shown");
    });
}

void BM_WindowLookupUnfollowed(benchmark::State& state, const char* size) {
    ::setenv("BTRIEVE_FOLLOW_CHANGES", "0", 1);  // read as the window's tables are made
    BM_WindowLookup(state, size);
    ::unsetenv("BTRIEVE_FOLLOW_CHANGES");
}

void BM_WindowDetail(benchmark::State& state, const char* size) {
    withWindow(size, [&](COpenInvoiceDlg& dlg) {
        edit(dlg, IDC_SEARCH_EDIT)->setText(QStringLiteral("AARDVARK"));
        dlg.FireEvent(IDC_DETAIL_BUTTON, 1);  // warm
        for (auto _ : state) dlg.FireEvent(IDC_DETAIL_BUTTON, 1);
        state.counters["rows"] = dlg.m_InvoiceList.GetCount();
        if (dlg.m_InvoiceList.GetCount() != 20) state.SkipWithError("AARDVARK has not 20 open invoices");
    });
}

// The window that ends as soon as it has shown its first customer, noting when.
class TimedStart : public COpenInvoiceDlg {
public:
    BOOL OnInitDialog() override {
        const Clock::time_point begin = Clock::now();
        const BOOL result = COpenInvoiceDlg::OnInitDialog();
        shown = Clock::now();
        init = shown - begin;
        if (m_strCustID.empty()) failed = true;
        EndDialog(framework::IDCANCEL);  // not shown; destroyed after the clock stops
        return result;
    }
    Clock::time_point shown;
    Clock::duration init{};
    bool failed = false;
};

void windowStart(benchmark::State& state, const char* size, bool initOnly) {
    CurrentFolder here(size);
    for (auto _ : state) {
        const Clock::time_point begin = Clock::now();
        TimedStart dlg;
        dlg.DoModal();
        if (dlg.failed) state.SkipWithError("no customer shown");
        const Clock::duration took = initOnly ? dlg.init : dlg.shown - begin;
        state.SetIterationTime(std::chrono::duration<double>(took).count());
    }
}
void BM_WindowStart(benchmark::State& state, const char* size) { windowStart(state, size, false); }
void BM_WindowInit(benchmark::State& state, const char* size) { windowStart(state, size, true); }

}  // namespace

BENCHMARK_CAPTURE(BM_WindowLookup, small, "small")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_WindowLookup, large, "large")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_WindowLookupUnfollowed, large, "large")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_WindowDetail, small, "small")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_WindowDetail, large, "large")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_WindowStart, large, "large")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WindowInit, large, "large")->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    platform::testing::ScopedTestServices doubles;
    RegisterProgramResources();
    COpenInvoiceApp app;  // the program's application object, as at a real start
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
