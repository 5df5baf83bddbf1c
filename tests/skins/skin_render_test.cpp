// Renders each shipped skin on a sample form laid out like the main window, into
// <build>/tests/skins/renders/<skin>.png, for a look at the finished result.
#include "skin_fixture.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>

namespace {

struct Sample {
    QWidget dialog;
    skins::SkinFormWidget* form = nullptr;
    std::vector<QWidget*> controls;
    int baseX = 0, baseY = 0;

    QRect dlu(int x, int y, int w, int h) const {
        return QRect(x * baseX / 4, y * baseY / 8, w * baseX / 4, h * baseY / 8);
    }
};

std::unique_ptr<Sample> buildSample(const std::string& skinFile) {
    auto s = std::make_unique<Sample>();
    QFont font(QString::fromStdString(platform::mapFontFamily("MS Sans Serif")));
    font.setPointSizeF(8);
    s->dialog.setFont(font);
    const QFontMetrics fm(font);
    s->baseX = (fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 + 1) / 2;
    s->baseY = fm.height();
    s->dialog.setFixedSize(s->dlu(0, 0, 274, 191).size());

    auto edit = [&](int x, int y, int w, int h, const char* text) {
        auto* e = new QLineEdit(QString::fromLatin1(text), &s->dialog);
        e->setGeometry(s->dlu(x, y, w, h));
    };
    const framework::PropertyMap normal{{"FontName", "MS Sans Serif"}, {"FontSize", "8.25"}, {"FontWeight", "400"}};
    const framework::PropertyMap bold{{"FontName", "MS Sans Serif"}, {"FontSize", "9.75"}, {"FontWeight", "700"}};
    auto button = [&](int x, int y, int w, int h, const char* caption) {
        framework::ActiveXCreateInfo i;
        i.properties = normal;
        i.properties["Caption"] = caption;
        i.properties["Text"] = "Button";
        auto* b = new skins::SkinButton(i, &s->dialog);
        b->setGeometry(s->dlu(x, y, w, h));
        s->controls.push_back(b);
        return b;
    };
    auto label = [&](int x, int y, int w, int h, const char* caption, bool large = false) {
        framework::ActiveXCreateInfo i;
        i.properties = large ? bold : normal;
        i.properties["Caption"] = caption;
        i.properties["Text"] = "Label";
        auto* l = new skins::SkinLabel(i, &s->dialog);
        l->setGeometry(s->dlu(x, y, w, h));
        s->controls.push_back(l);
    };
    edit(122, 8, 58, 14, "");
    edit(9, 24, 171, 12, "Hollis Garden Supply");
    edit(9, 38, 171, 12, "1420 Orchard Road");
    edit(9, 52, 171, 12, "Suite 5");
    edit(9, 66, 171, 12, "Macon, GA 31201");
    edit(9, 80, 61, 12, "478-555-0142");
    edit(119, 80, 61, 12, "478-555-0143");
    button(198, 25, 22, 16, "<");
    button(199, 46, 66, 16, "Show Detail");
    button(223, 25, 22, 16, ">");
    edit(9, 8, 97, 14, "HOLLIS");
    framework::ActiveXCreateInfo formInfo;
    formInfo.properties["SkinFile"] = skinFile;
    s->form = new skins::SkinFormWidget(formInfo, &s->dialog);
    s->form->setGeometry(s->dlu(87, 150, 21, 20));
    button(249, 25, 16, 16, "$");
    edit(9, 94, 171, 12, "Dana Hollis");
    edit(9, 108, 171, 12, "accounts@hollis.example");
    label(205, 94, 53, 10, "Balance", true);
    label(93, 81, 24, 10, "Fax");
    auto* list = new QListWidget(&s->dialog);
    list->setGeometry(s->dlu(9, 136, 254, 49));
    list->addItems({"03/02/2026\tINV-1042\t1,250.00\t500.00\t750.00",
                    "03/17/2026\tINV-1077\t412.80\t0.00\t412.80"});
    label(16, 125, 37, 10, "Date");
    label(58, 125, 45, 10, "Reference");
    label(108, 125, 51, 10, "Invoice Amount");
    label(172, 125, 34, 10, "Paid");
    label(210, 125, 39, 10, "Balance");
    button(199, 67, 66, 16, "Print");
    label(205, 107, 53, 10, "$1,162.80", true);
    button(255, 3, 14, 10, "S");
    return s;
}

}  // namespace

TEST_F(SkinTest, ShippedSkinsRenderOnASampleForm) {
    installShipped();
    QDir().mkpath(RENDER_DIR);
    QSet<QRgb> corners;
    for (const char* skin : {"grey", "military", "zhelezo"}) {
        SCOPED_TRACE(skin);
        auto sample = buildSample(std::string(skin) + ".skn");
        ASSERT_EQ(sample->form->currentSkin()->name.toLower(), skin);
        for (QWidget* control : sample->controls) EXPECT_EQ(ApplySkin(control, sample->form, 0), 0);
        sample->dialog.show();
        const QImage image = sample->dialog.grab().toImage();
        EXPECT_TRUE(image.save(QString(RENDER_DIR) + "/" + skin + ".png"));
        corners.insert(image.pixel(sample->dlu(190, 112, 1, 1).topLeft()));
        // Every caption fits its control.
        for (QWidget* control : sample->controls) {
            if (auto* b = qobject_cast<skins::SkinButton*>(control)) {
                EXPECT_LE(QFontMetrics(b->font()).horizontalAdvance(b->text()), b->width() - 2) << b->text().toStdString();
            } else if (auto* l = qobject_cast<skins::SkinLabel*>(control)) {
                EXPECT_LE(QFontMetrics(l->font()).horizontalAdvance(l->text()), l->width()) << l->text().toStdString();
            }
        }
    }
    EXPECT_EQ(corners.size(), 3);  // each skin paints the dialog in its own colours
}

TEST_F(SkinTest, ButtonStatesRenderDistinctly) {
    installShipped();
    QDir().mkpath(RENDER_DIR);
    for (const char* skin : {"grey", "military", "zhelezo"}) {
        SCOPED_TRACE(skin);
        QWidget strip;
        strip.resize(5 * 110 + 10, 44);
        framework::ActiveXCreateInfo formInfo;
        formInfo.properties["SkinFile"] = std::string(skin) + ".skn";
        auto* form = new skins::SkinFormWidget(formInfo, &strip);
        form->setGeometry(0, 0, 1, 1);
        std::vector<skins::SkinButton*> buttons;
        for (const char* caption : {"Normal", "Hover", "Pressed", "Disabled", "Focus"}) {
            auto* b = new skins::SkinButton(info(0, "", caption, {{"FontName", "MS Sans Serif"}, {"FontSize", "8.25"}}), &strip);
            b->setGeometry(10 + 110 * static_cast<int>(buttons.size()), 9, 100, 26);
            ApplySkin(b, form, 0);
            buttons.push_back(b);
        }
        strip.show();
        QApplication::setActiveWindow(&strip);
        buttons[1]->setAttribute(Qt::WA_UnderMouse);
        buttons[2]->setDown(true);
        buttons[3]->setEnabled(false);
        buttons[4]->setFocus();
        const QImage image = strip.grab().toImage();
        EXPECT_TRUE(image.save(QString(RENDER_DIR) + "/" + skin + "-buttons.png"));
        QSet<QRgb> faces;
        for (int i = 0; i < 4; ++i) faces.insert(image.pixel(10 + 110 * i + 6, 9 + 20));
        EXPECT_EQ(faces.size(), 4);  // normal, hover, pressed and disabled each look different
    }
}
