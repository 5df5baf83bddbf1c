// Choosing the main window's skin from the menu, the skin restored at the next start,
// and every window of the program in each shipped skin (renders land in the build
// folder, renders/, for a look).
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>

#include "../skins/contrast.h"
#include "app/AboutDlg.h"
#include "app_test_support.h"
#include "company_fixture.h"
#include "data/CompanyFolder.h"
#include "data/Security.h"
#include "skins/SkinControls.h"

using namespace framework;

namespace {

const int kSkinControls[] = {IDC_PREV_BUTTON, IDC_DETAIL_BUTTON, IDC_NEXT_BUTTON, IDC_BALANCE_FILTER_BUTTON,
                             IDC_PRINT_BUTTON, IDC_SOUND_BUTTON, IDC_BALANCE_CAPTION, IDC_FAX_CAPTION,
                             IDC_DATE_HEADER, IDC_REFERENCE_HEADER, IDC_AMOUNT_HEADER, IDC_PAID_HEADER,
                             IDC_BALANCE_HEADER, IDC_BALANCE_VALUE};

using skintest::contrast;

// Text on its background reads well (4.5:1 as for body text) in every pair the
// window's standard controls draw.
void expectLegible(const QWidget* w, const char* what) {
    SCOPED_TRACE(what);
    const QPalette p = w->palette();
    EXPECT_GE(contrast(p.color(QPalette::WindowText), p.color(QPalette::Window)), 4.5);
    EXPECT_GE(contrast(p.color(QPalette::Text), p.color(QPalette::Base)), 4.5);
    EXPECT_GE(contrast(p.color(QPalette::ButtonText), p.color(QPalette::Button)), 4.5);
    EXPECT_GE(contrast(p.color(QPalette::HighlightedText), p.color(QPalette::Highlight)), 4.5);
}

class SkinSelectionTest : public companytest::CompanyTest {
protected:
    void SetUp() override {
        CompanyTest::SetUp();
        // A company of one customer, so that the window starts as it does for a user.
        openCompany({companytest::customer("ALDRIDGE", "Aldridge Supply", 0.0, 1)});
        // The shipped skins in the program's own skins folder.
        services.system->program = program.path().toStdString() + "/openinvoice";
        QDir().mkpath(program.path() + "/skins");
        const QDir source(SKINS_SOURCE_DIR);
        for (const QString& name : source.entryList(QDir::Files))
            QFile::copy(source.filePath(name), program.path() + "/skins/" + name);
        appPalette_ = QApplication::palette();
    }
    void TearDown() override {
        QApplication::setPalette(appPalette_);  // the main window's skin sets it
        CompanyTest::TearDown();
    }

    static void save(QWidget* w, const QString& name) {
        QDir().mkpath(RENDER_DIR);
        EXPECT_TRUE(w->grab().save(QString(RENDER_DIR) + "/" + name + ".png"));
    }

    static void writeText(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    static QByteArray firstSkinFile() {
        QFile f(QStringLiteral("1stskin.kxi"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    // A skin of one's own named name, in folder.
    static QString writeSkin(const QString& folder, const QString& file, const QString& name) {
        const QString path = folder + "/" + file;
        writeText(path, ("[Skin]\nName=" + name + "\n[Button]\nColor=#204080\n").toUtf8());
        return path;
    }

    static QString formSkin(COpenInvoiceDlg& dlg) {
        auto* form = qobject_cast<skins::SkinFormWidget*>(dlg.GetDlgItem(IDC_SKINFORM));
        return form ? form->currentSkin()->name : QString();
    }
    // The skin name each of the fourteen controls was last given ("" for none).
    static std::vector<QString> controlSkins(COpenInvoiceDlg& dlg) {
        std::vector<QString> names;
        for (int id : kSkinControls) {
            QWidget* w = dlg.GetDlgItem(id);
            std::shared_ptr<const skins::Skin> skin;
            if (auto* b = qobject_cast<skins::SkinButton*>(w)) skin = b->appliedSkin();
            if (auto* l = qobject_cast<skins::SkinLabel*>(w)) skin = l->appliedSkin();
            names.push_back(skin ? skin->name : QString());
        }
        return names;
    }
    static std::vector<QString> all(const QString& name) { return std::vector<QString>(std::size(kSkinControls), name); }

    QTemporaryDir program;
    QPalette appPalette_;
};

TEST_F(SkinSelectionTest, BuiltInSkinsShowAtOnceAndAreRemembered) {
    COpenInvoiceDlg dlg;
    runModal(dlg, [&] {
        const std::tuple<int, const char*, const char*> skins[] = {
            {ID_SKIN_MILITARY, "military.skn", "Military"},
            {ID_SKIN_ZHELEZO, "zhelezo.skn", "Zhelezo"},
            {ID_SKIN_GREY, "grey.skn", "Grey"},
            {ID_SKIN_GREY, "grey.skn", "Grey"},  // the same twice rewrites the same
        };
        for (const auto& [id, file, name] : skins) {
            SCOPED_TRACE(file);
            EXPECT_TRUE(dlg.SendCommand(id));
            EXPECT_EQ(formSkin(dlg), name);
            EXPECT_EQ(controlSkins(dlg), all(name));
            EXPECT_EQ(firstSkinFile(), QByteArray(file));  // no line end
        }
    });
    EXPECT_TRUE(services.messageBox->calls.empty());
    EXPECT_TRUE(services.sound->names() == std::vector<std::string>{"click.wav"});  // the first display only
}

TEST_F(SkinSelectionTest, OtherAsksForAFileAndCancelChangesNothing) {
    QTemporaryDir elsewhere;
    const QString mine = writeSkin(elsewhere.path(), "mine.skn", "Mine");
    COpenInvoiceDlg dlg;
    runModal(dlg, [&] {
        dlg.SendCommand(ID_SKIN_ZHELEZO);
        services.fileDialog->answer.reset();
        dlg.SendCommand(ID_SKIN_OTHER);
        EXPECT_EQ(formSkin(dlg), "Zhelezo");
        EXPECT_EQ(firstSkinFile(), QByteArray("zhelezo.skn"));

        services.fileDialog->answer = mine.toStdString();
        dlg.SendCommand(ID_SKIN_OTHER);
        EXPECT_EQ(formSkin(dlg), "Mine");
        EXPECT_EQ(controlSkins(dlg), all("Mine"));
        EXPECT_EQ(firstSkinFile(), mine.toUtf8());
    });
    ASSERT_EQ(services.fileDialog->requests.size(), 2u);
    const auto& request = services.fileDialog->requests[0];
    EXPECT_EQ(request.filter, "Skins (*.skn)|*.skn");
    EXPECT_EQ(request.flags, 6u);
    EXPECT_EQ(request.defaultExtension, "");
    EXPECT_EQ(request.initialFileName, "");
}

TEST_F(SkinSelectionTest, NextStartRestoresABareNameOrAFullPath) {
    // A bare name, from a file edited by hand that ends in a line end.
    writeText("1stskin.kxi", "military.skn\r\n");
    {
        COpenInvoiceDlg dlg;
        runModal(dlg, [&] {
            EXPECT_EQ(formSkin(dlg), "Military");
            EXPECT_EQ(controlSkins(dlg), all("Military"));
        });
    }
    // A bare name is looked for in the current folder before the program's.
    writeSkin(QDir::currentPath(), "military.skn", "Local");
    {
        COpenInvoiceDlg dlg;
        runModal(dlg, [&] { EXPECT_EQ(formSkin(dlg), "Local"); });
    }
    // A full path, as "Other..." leaves it.
    QTemporaryDir elsewhere;
    const QString mine = writeSkin(elsewhere.path(), "mine.skn", "Mine");
    writeText("1stskin.kxi", mine.toUtf8());
    {
        COpenInvoiceDlg dlg;
        runModal(dlg, [&] {
            EXPECT_EQ(formSkin(dlg), "Mine");
            EXPECT_EQ(controlSkins(dlg), all("Mine"));
        });
    }
    EXPECT_TRUE(services.messageBox->calls.empty());
}

TEST_F(SkinSelectionTest, EmptyMissingOrUnreadableFirstSkinKeepsTheTemplatesSkin) {
    // Empty: the form is given an empty name, keeps its skin, and the controls get it.
    writeText("1stskin.kxi", "");
    {
        COpenInvoiceDlg dlg;
        runModal(dlg, [&] {
            EXPECT_EQ(formSkin(dlg), "Grey");
            EXPECT_EQ(controlSkins(dlg), all("Grey"));
        });
    }
    // Missing (the first start), then unreadable (a folder by that name): start-up goes
    // on without a message and the window shows the template's skin.
    QFile::remove("1stskin.kxi");
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        COpenInvoiceDlg dlg;
        runModal(dlg, [&] {
            EXPECT_TRUE(dlg.GetWindow()->isVisible());
            EXPECT_EQ(formSkin(dlg), "Grey");
            EXPECT_EQ(controlSkins(dlg), all("Grey"));
            EXPECT_EQ(dlg.GetWindow()->focusWidget(), dlg.GetDlgItem(IDC_SEARCH_EDIT));
        });
        QDir().mkdir("1stskin.kxi");
    }
    EXPECT_TRUE(services.messageBox->calls.empty());
}

TEST_F(SkinSelectionTest, ASkinThatCannotBeRememberedIsReported) {
    QDir().mkdir("1stskin.kxi");  // cannot be written
    QTemporaryDir elsewhere;
    const QString mine = writeSkin(elsewhere.path(), "mine.skn", "Mine");
    COpenInvoiceDlg dlg;
    runModal(dlg, [&] {
        // A built-in skin is on show before the file fails, and stays for this run.
        dlg.SendCommand(ID_SKIN_MILITARY);
        EXPECT_EQ(formSkin(dlg), "Military");
        EXPECT_EQ(controlSkins(dlg), all("Military"));
        // "Other..." loads only after the write, so nothing changes.
        services.fileDialog->answer = mine.toStdString();
        dlg.SendCommand(ID_SKIN_OTHER);
        EXPECT_EQ(formSkin(dlg), "Military");
        EXPECT_TRUE(dlg.GetWindow()->isVisible());
    });
    ASSERT_EQ(services.messageBox->calls.size(), 2u);
    for (const auto& call : services.messageBox->calls) {
        EXPECT_EQ(call.style & 0xF0u, platform::MB_ICONSTOP);
        EXPECT_NE(call.text.find("1stskin.kxi"), std::string::npos) << call.text;
    }
}

TEST_F(SkinSelectionTest, ASkinChosenInRestrictedModeShowsNoHiddenControl) {
    COpenInvoiceDlg dlg;
    runModal(dlg, [&] {
        dlg.EnterRestrictedMode();
        services.fileDialog->answer = (program.path() + "/skins/zhelezo.skn").toStdString();
        for (int id : {ID_SKIN_MILITARY, ID_SKIN_GREY, ID_SKIN_ZHELEZO, ID_SKIN_OTHER}) {
            dlg.SendCommand(id);
            for (int hidden : {IDC_BALANCE_FILTER_BUTTON, IDC_PREV_BUTTON, IDC_DETAIL_BUTTON, IDC_NEXT_BUTTON,
                               IDC_BALANCE_VALUE})
                EXPECT_TRUE(dlg.GetDlgItem(hidden)->isHidden()) << id << " " << hidden;
            // Hidden controls take the skin too, so they would show it if ever shown.
            EXPECT_EQ(controlSkins(dlg), all(formSkin(dlg)));
        }
    });
}

TEST_F(SkinSelectionTest, EveryWindowWearsTheSkinAndStaysLegible) {
    QColor aboutWindow;
    for (const char* skin : {"grey", "military", "zhelezo"}) {
        SCOPED_TRACE(skin);
        QFile f("1stskin.kxi");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(skin) + ".skn");
        f.close();

        COpenInvoiceDlg dlg;
        app.m_pMainWnd = &dlg;
        runModal(dlg, [&] {
            QDialog* main = dlg.GetWindow();
            auto* form = qobject_cast<skins::SkinFormWidget*>(dlg.GetDlgItem(IDC_SKINFORM));
            ASSERT_EQ(form->currentSkin()->name.toLower(), skin);
            const QPalette& look = form->currentSkin()->palette;
            expectLegible(main, "main window");
            // The skin labels' text on the form's colours.
            EXPECT_GE(contrast(form->currentSkin()->label().text, look.color(QPalette::Window)), 4.5);
            // The menu bar is part of the skinned window.
            auto* bar = main->findChild<QMenuBar*>();
            ASSERT_NE(bar, nullptr);
            EXPECT_EQ(bar->palette().window().color(), look.window().color());
            EXPECT_GE(contrast(bar->palette().color(QPalette::ButtonText), look.color(QPalette::Window)), 4.5);
            save(main, QStringLiteral("main-%1").arg(skin));
            QMenu* file = bar->actions().constFirst()->menu();
            file->popup(main->mapToGlobal(QPoint(0, bar->height())));
            file->setActiveAction(file->actions().constFirst());
            save(file, QStringLiteral("menu-%1").arg(skin));
            EXPECT_EQ(file->palette().color(QPalette::Base), look.color(QPalette::Base));
            file->hide();

            // The plain dialogs follow the main window's skin.
            CCompanyDlg company;
            runModal(company, [&] {
                EXPECT_EQ(company.GetWindow()->palette().color(QPalette::Window), look.color(QPalette::Window));
                expectLegible(company.GetWindow(), "company dialog");
                save(company.GetWindow(), QStringLiteral("company-%1").arg(skin));
            });
            CPasswordDlg password;
            runModal(password, [&] {
                EXPECT_EQ(password.GetWindow()->palette().color(QPalette::Base), look.color(QPalette::Base));
                expectLegible(password.GetWindow(), "password dialog");
                save(password.GetWindow(), QStringLiteral("password-%1").arg(skin));
            });
            // The About box keeps the skin stored with it, whatever the main window wears.
            CAboutDlg about;
            runModal(about, [&] {
                expectLegible(about.GetWindow(), "About box");
                const QColor window = about.GetWindow()->palette().color(QPalette::Window);
                if (!aboutWindow.isValid()) aboutWindow = window;
                EXPECT_EQ(window, aboutWindow);
                save(about.GetWindow(), QStringLiteral("about-%1").arg(skin));
            });
        });
        app.m_pMainWnd = nullptr;
    }
}

}  // namespace
