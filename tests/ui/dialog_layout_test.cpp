// The dialog templates as data (ids, kinds, captions, positions) and the
// windows built from them: dialog units from the font's metrics, proportions
// kept at any font, no caption cut, and the pictures at their pixel sizes.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QImage>

#include "ui/dialog_builder.h"
#include "ui/dialog_template.h"
#include "ui/pictures.h"

namespace ostrel::ui {
namespace {

struct Row {
    std::optional<int> id;
    ControlKind kind;
    std::optional<QString> caption;
    int x, y, w, h;
};

void expectControls(const DialogTemplate& dialog, const std::vector<Row>& rows) {
    ASSERT_EQ(dialog.controls.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("control " + std::to_string(i));
        const ControlTemplate& c = dialog.controls[i];
        EXPECT_EQ(c.id, rows[i].id);
        EXPECT_EQ(c.kind, rows[i].kind);
        EXPECT_EQ(c.caption, rows[i].caption);
        EXPECT_EQ(c.x, rows[i].x);
        EXPECT_EQ(c.y, rows[i].y);
        EXPECT_EQ(c.width, rows[i].w);
        EXPECT_EQ(c.height, rows[i].h);
    }
}

using K = ControlKind;
const std::nullopt_t none = std::nullopt;

TEST(DialogTemplates, MainWindowTemplate102) {
    const TemplateLoad load = LoadDialogTemplate(102);
    ASSERT_TRUE(load.dialog) << load.error.toStdString();
    const DialogTemplate& d = *load.dialog;
    EXPECT_EQ(d.caption, "COM Ostrel v1.2");
    EXPECT_EQ(d.width, 505);
    EXPECT_EQ(d.height, 364);
    EXPECT_EQ(d.fontFace, "MS Shell Dlg");
    EXPECT_EQ(d.fontPoints, 8);
    EXPECT_FALSE(d.styles.contains("WS_VISIBLE"));
    expectControls(d, {
                          {211, K::DefPushButton, "Open COM", 7, 338, 210, 16},
                          {210, K::PushButton, "Exit", 363, 338, 135, 16},
                          {201, K::Edit, none, 7, 7, 491, 215},
                          {none, K::Static, "Mode", 7, 229, 19, 8},
                          {none, K::GroupBox, "DTE", 7, 246, 49, 86},
                          {202, K::PushButton, "DTE Emulation", 31, 227, 105, 14},
                          {203, K::ListBox, none, 13, 257, 37, 72},
                          {none, K::GroupBox, "DCE", 59, 246, 49, 86},
                          {204, K::ListBox, none, 65, 257, 37, 72},
                          {none, K::GroupBox, "Baud Rate", 111, 246, 49, 86},
                          {205, K::ListBox, none, 117, 257, 37, 72},
                          {none, K::GroupBox, "Parity", 163, 222, 53, 26},
                          {206, K::ComboBox, none, 166, 232, 48, 72},
                          {none, K::GroupBox, "Data Bits", 163, 250, 53, 26},
                          {207, K::ComboBox, none, 166, 260, 48, 68},
                          {none, K::GroupBox, "Stop Bits", 163, 278, 53, 26},
                          {208, K::ComboBox, none, 165, 287, 48, 76},
                          {none, K::GroupBox, "Flow Control", 163, 306, 53, 26},
                          {209, K::ComboBox, none, 166, 316, 48, 47},
                          {212, K::PushButton, "Send", 411, 314, 81, 16},
                          {none, K::GroupBox, "Display", 307, 223, 191, 24},
                          {213, K::Radio, "HEX", 327, 232, 31, 10},
                          {214, K::Radio, "ASCII", 387, 232, 34, 10},
                          {none, K::GroupBox, "Send Data", 222, 249, 276, 83},
                          {216, K::Edit, none, 227, 260, 264, 49},
                          {217, K::Radio, "To DTE", 250, 318, 41, 10},
                          {218, K::Radio, "To DCE", 333, 318, 41, 10},
                          {219, K::PushButton, "Capture", 222, 338, 135, 16},
                          {233, K::PictureButton, none, 225, 226, 70, 19},
                          {234, K::AutoRadio, "OFF", 455, 232, 29, 10},
                      });
    EXPECT_EQ(d.control(233)->bitmap, 206);
    EXPECT_TRUE(d.control(201)->hasStyle("ES_MULTILINE"));
    EXPECT_FALSE(d.control(201)->hasStyle("ES_READONLY"));
}

TEST(DialogTemplates, ModeWindowTemplate105) {
    const TemplateLoad load = LoadDialogTemplate(105);
    ASSERT_TRUE(load.dialog) << load.error.toStdString();
    const DialogTemplate& d = *load.dialog;
    EXPECT_EQ(d.caption, "Mode Select");
    EXPECT_EQ(d.width, 371);
    EXPECT_EQ(d.height, 340);
    EXPECT_TRUE(d.exStyles.contains("WS_EX_TOPMOST"));
    expectControls(d, {
                          {1, K::DefPushButton, "Close", 159, 317, 50, 16},
                          {227, K::AutoRadio, "DTE_Emulation", 58, 69, 65, 10},
                          {228, K::AutoRadio, "DCE_Emulation", 240, 69, 65, 10},
                          {229, K::AutoRadio, "Intercede", 169, 173, 46, 10},
                          {230, K::AutoRadio, "Half Duplex", 66, 291, 53, 10},
                          {231, K::AutoRadio, "Full Duplex", 255, 291, 51, 10},
                          {none, K::Picture, none, 32, 7, 107, 49},
                          {none, K::Picture, none, 97, 101, 163, 58},
                          {none, K::Picture, none, 206, 7, 116, 58},
                          {none, K::Picture, none, 7, 200, 161, 86},
                          {none, K::Picture, none, 187, 197, 160, 84},
                      });
    const int bitmaps[] = {210, 208, 209, 212, 211};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(d.controls[6 + i].bitmap, bitmaps[i]);
}

TEST(DialogTemplates, AboutWindowTemplate106) {
    const TemplateLoad load = LoadDialogTemplate(106);
    ASSERT_TRUE(load.dialog) << load.error.toStdString();
    const DialogTemplate& d = *load.dialog;
    EXPECT_EQ(d.caption, "About Quorvane");
    EXPECT_EQ(d.width, 186);
    EXPECT_EQ(d.height, 134);
    EXPECT_TRUE(d.exStyles.isEmpty());
    expectControls(d, {
                          {1, K::DefPushButton, "OK", 69, 111, 50, 16},
                          {none, K::Picture, none, 23, 7, 144, 57},
                          {none, K::Static, "Ostrel - COM Port Analyzer v1.3", 51, 68, 107, 8},
                      });
    EXPECT_EQ(d.controls[1].bitmap, 207);
}

TEST(DialogTemplates, BadTemplatesAreReportedNotGuessed) {
    EXPECT_FALSE(ParseDialogTemplate("{").dialog);
    EXPECT_FALSE(
        ParseDialogTemplate(R"({"width": 10, "height": 10, "controls": [{"kind": "slider"}]})").dialog);
    EXPECT_FALSE(ParseDialogTemplate(R"({"controls": []})").dialog);
    EXPECT_FALSE(LoadDialogTemplate(999).dialog);
}

TEST(DialogUnitsTest, RoundWithoutGapsOrOverlaps) {
    EXPECT_EQ(ToPixels({1.5, 1.625}, 7, 338, 210, 16), QRect(11, 549, 315, 26));
    // Neighbours keep their gap: the right edge of one is where the next begins.
    EXPECT_EQ(ToPixels({1.85, 1.75}, 0, 0, 10, 4).right() + 1, ToPixels({1.85, 1.75}, 10, 4, 5, 5).left());
}

// Builds template `id` in a window with `font` and checks what must hold at any font.
void checkLayout(int id, const QFont& font) {
    SCOPED_TRACE(font.toString().toStdString());
    const TemplateLoad load = LoadDialogTemplate(id);
    ASSERT_TRUE(load.dialog);
    QWidget window;
    window.setFont(font);
    const BuiltDialog built = BuildDialog(window, *load.dialog);
    const DialogUnits base = BaseUnitsFor(font);
    EXPECT_GE(built.units.x, base.x - 1e-9);
    EXPECT_NEAR(built.units.x / built.units.y, base.x / base.y, 1e-9);  // both grow alike
    EXPECT_EQ(window.size(), ToPixels(built.units, 0, 0, load.dialog->width, load.dialog->height).size());
    EXPECT_EQ(CaptionFitFactor(*load.dialog, built, built.units), 1.0);
    // A close box only; the mode window stays on top.
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(bool(flags & Qt::WindowStaysOnTopHint), id == 105);

    for (std::size_t i = 0; i < load.dialog->controls.size(); ++i) {
        const ControlTemplate& c = load.dialog->controls[i];
        QWidget* widget = built.widgets[i];
        const QRect expected = ToPixels(built.units, c.x, c.y, c.width, c.height);
        if (c.kind == ControlKind::Picture) {
            // Its pixel size where that fits its place, else smaller with the same shape.
            const QSize natural = PictureSize(*c.bitmap);
            if (natural.width() <= expected.width() && natural.height() <= expected.height()) {
                EXPECT_EQ(widget->size(), natural) << i;
            } else {
                EXPECT_NEAR(double(widget->width()) / widget->height(),
                            double(natural.width()) / natural.height(), 0.02);
            }
            EXPECT_TRUE(expected.contains(widget->geometry())) << i;
            continue;
        }
        EXPECT_EQ(widget->pos(), expected.topLeft()) << i;
        EXPECT_EQ(widget->width(), expected.width()) << i;
        if (c.kind != ControlKind::ComboBox) {
            EXPECT_EQ(widget->height(), expected.height()) << i;
        }
        // Every caption fits inside its control.
        if (c.caption) {
            const QFontMetrics metrics(widget->font());
            EXPECT_LE(metrics.horizontalAdvance(*c.caption), widget->width()) << c.caption->toStdString();
            if (c.kind != ControlKind::GroupBox) {
                EXPECT_LE(metrics.height(), widget->height()) << c.caption->toStdString();
            }
        }
    }
}

TEST(DialogLayout, KeepsThePlacesAndNeverCutsACaptionAtAnyFont) {
    QFont big = QApplication::font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    for (int id : {102, 105, 106}) {
        SCOPED_TRACE(id);
        for (const QFont& font :
             {QApplication::font(), big, QFont("DejaVu Sans Condensed", 7), QFont("DejaVu Sans Mono", 10)})
            checkLayout(id, font);
    }
}

TEST(DialogLayout, AClickInTheMiddleOfAListReachesItNotTheGroupBoxAroundIt) {
    QWidget window;
    const BuiltDialog built = BuildDialog(window, *LoadDialogTemplate(102).dialog);
    window.show();
    for (int id : {203, 204, 205}) {
        QWidget* list = built.byId.at(id);
        QWidget* hit = window.childAt(list->mapTo(&window, list->rect().center()));
        EXPECT_TRUE(hit && (hit == list || list->isAncestorOf(hit))) << id;
    }
}

TEST(Pictures, RenderAtTheirPixelSizesAndAreNotBlank) {
    const std::pair<int, QSize> sizes[] = {{206, {121, 28}}, {207, {216, 93}}, {208, {244, 95}},
                                           {209, {174, 95}}, {210, {160, 80}}, {211, {240, 136}},
                                           {212, {241, 139}}};
    for (const auto& [id, size] : sizes) {
        const QImage image = RenderPicture(id).toImage();
        ASSERT_EQ(image.size(), size) << id;
        int drawn = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) drawn += qAlpha(image.pixel(x, y)) > 128;
        // Line drawings: clearly something, far from a filled rectangle.
        EXPECT_GT(drawn, image.width() * image.height() / 20) << id;
        EXPECT_LT(drawn, image.width() * image.height() * 3 / 4) << id;
        EXPECT_EQ(RenderPicture(id, 2.0).size(), size * 2);  // sharp on a high-density screen too
    }
    EXPECT_TRUE(RenderPicture(205).isNull());
}

}  // namespace
}  // namespace ostrel::ui
