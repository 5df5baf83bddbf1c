#include "skin_fixture.h"

using testsupport::writeFile;

namespace {

void writeFlatSkin(const QString& path, const char* name, const char* color) {
    writeFile(path, QByteArray("[Skin]\nName=") + name + "\n[Form]\nColor=" + color + "\n[Button]\nColor=" + color +
                        "\nBorderWidth=0\n");
}

}  // namespace

TEST_F(SkinTest, BareNamesResolveInTheCurrentFolderThenTheProgramsSkins) {
    QWidget dialog;
    skins::SkinFormWidget form(info(1000, "IDC_SKINFORM", ""), &dialog);
    writeFlatSkin(program.path() + "/skins/grey.skn", "Shipped", "#808080");
    writeFlatSkin(cwd.path() + "/Grey.SKN", "Local", "#909090");

    form.setSkinFile("grey.skn");
    EXPECT_EQ(form.currentSkin()->name, "Local");
    QFile::remove(cwd.path() + "/Grey.SKN");
    form.setSkinFile("GREY.skn");
    EXPECT_EQ(form.currentSkin()->name, "Shipped");

    writeFlatSkin(cwd.path() + "/chosen/mine.skn", "Chosen", "#a0a0a0");
    form.setSkinFile(cwd.str() + "/chosen/mine.skn");
    EXPECT_EQ(form.currentSkin()->name, "Chosen");
    form.setSkinFile(cwd.str() + "\\CHOSEN\\Mine.skn");  // a Windows path from a state file
    EXPECT_EQ(form.currentSkin()->name, "Chosen");
}

TEST_F(SkinTest, MissingOrMalformedSkinKeepsTheCurrentOneSilently) {
    installShipped();
    writeFile("broken.skn", "[Skin]\nName=Broken\n[Form]\nTop=not a colour\n");
    QWidget dialog;
    skins::SkinFormWidget form(info(1000, "IDC_SKINFORM", "", {{"SkinFile", "nothing-here.skn"}}), &dialog);
    EXPECT_EQ(form.currentSkin(), skins::defaultSkin());  // a missing starting skin: built-in look

    form.setSkinFile("zhelezo.skn");
    const auto zhelezo = form.currentSkin();
    EXPECT_EQ(zhelezo->name, "Zhelezo");
    for (const char* name : {"missing.skn", "broken.skn", "", "C:\\NOWHERE\\grey.skn"}) {
        form.setSkinFile(name);
        EXPECT_EQ(form.currentSkin(), zhelezo) << name;
    }
    EXPECT_TRUE(doubles.messageBox->calls.empty());
}

TEST_F(SkinTest, StartingSkinComesFromTheStoredProperty) {
    installShipped();
    QWidget dialog;
    skins::SkinFormWidget form(info(1000, "IDC_SKINFORM", "", {{"SkinFile", "military.skn"}}), &dialog);
    EXPECT_EQ(form.currentSkin()->name, "Military");
}

TEST_F(SkinTest, FormPaintsTheWholeDialogAndFollowsNewSkins) {
    writeFlatSkin("blue.skn", "Blue", "#336699");
    writeFlatSkin("red.skn", "Red", "#993322");
    QWidget dialog;
    dialog.resize(200, 120);
    auto* form = new skins::SkinFormWidget(info(1000, "IDC_SKINFORM", "", {{"SkinFile", "blue.skn"}}), &dialog);
    form->setGeometry(130, 225, 31, 32);
    dialog.show();
    EXPECT_EQ(pixel(&dialog, 2, 2), QColor("#336699"));
    EXPECT_EQ(pixel(&dialog, 197, 117), QColor("#336699"));
    CSkinForm wrapper;
    wrapper.Attach(form);
    wrapper.SetSkinFile("red.skn");
    EXPECT_EQ(pixel(&dialog, 100, 60), QColor("#993322"));
    // Plain text on the dialog takes the skin's colours too.
    EXPECT_EQ(dialog.palette().color(QPalette::Window), QColor("#993322"));
    // The form catches no clicks meant for what lies below it.
    EXPECT_TRUE(form->testAttribute(Qt::WA_TransparentForMouseEvents));
}

TEST_F(SkinTest, ControlsFollowTheDialogsFormUntilGivenASkin) {
    writeFlatSkin("light.skn", "Light", "#e0e0e0");
    writeFlatSkin("dark.skn", "Dark", "#202020");
    QWidget dialog;
    dialog.resize(200, 100);
    auto* form = new skins::SkinFormWidget(info(1000, "IDC_SKINFORM", "", {{"SkinFile", "light.skn"}}), &dialog);
    auto* button = new skins::SkinButton(info(1004, "IDC_NEXT_BUTTON", ">"), &dialog);
    button->setGeometry(10, 10, 60, 24);
    dialog.show();
    const QPoint face(4, 12);
    EXPECT_EQ(pixel(button, face.x(), face.y()), QColor("#e0e0e0"));
    form->setSkinFile("dark.skn");
    EXPECT_EQ(pixel(button, face.x(), face.y()), QColor("#202020"));  // no skin given yet: the form's

    CSkinForm wrapper;
    wrapper.Attach(form);
    EXPECT_EQ(ApplySkin(button, wrapper.GetSkinForm(), 0), 0);
    form->setSkinFile("light.skn");
    EXPECT_EQ(pixel(button, face.x(), face.y()), QColor("#202020"));  // keeps the skin it was given
    EXPECT_EQ(ApplySkin(button, GetSkinFormInterface(form), 0), 0);
    EXPECT_EQ(pixel(button, face.x(), face.y()), QColor("#e0e0e0"));
}

TEST_F(SkinTest, ApplySkinRefusesWhatIsNotASkinControl) {
    QWidget dialog;
    skins::SkinFormWidget form(info(1000, "IDC_SKINFORM", ""), &dialog);
    QWidget plain(&dialog);
    skins::SkinLabel label(info(1037, "IDC_BALANCE_VALUE", "Balance"), &dialog);
    EXPECT_NE(ApplySkin(&plain, &form, 0), 0);
    EXPECT_NE(ApplySkin(&label, nullptr, 0), 0);
    EXPECT_NE(ApplySkin(nullptr, &form, 0), 0);
    EXPECT_EQ(GetSkinFormInterface(&plain), nullptr);
    // Unattached wrappers do nothing.
    CSkinForm noForm;
    CSkinLabel noLabel;
    noForm.SetSkinFile("grey.skn");
    noLabel.SetText("x");
    EXPECT_EQ(noForm.GetSkinForm(), nullptr);
    EXPECT_NE(noLabel.ApplySkin(&form, 0), 0);
}
