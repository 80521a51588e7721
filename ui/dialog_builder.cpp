#include "ui/dialog_builder.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <algorithm>

#include "ui/pictures.h"

namespace ostrel::ui {

namespace {

QString captionOf(const ControlTemplate& control) {
    return control.caption.value_or(QString());
}

// The width a captioned control needs to show its caption whole; 0 when it has none.
int neededWidth(const ControlTemplate& control, QWidget* widget) {
    if (!control.caption || control.caption->isEmpty()) return 0;
    const QFontMetrics metrics(widget->font());
    const int text = metrics.horizontalAdvance(*control.caption);
    QStyle* style = widget->style();
    switch (control.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefPushButton:
            return text + 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, widget) +
                   2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, widget);
        case ControlKind::Radio:
        case ControlKind::AutoRadio:
            return style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, widget) +
                   style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, widget) + text + 2;
        case ControlKind::GroupBox:
            return text + 16;  // the title stands inset in the frame
        case ControlKind::Static:
            return text;
        default:
            return 0;
    }
}

int neededHeight(const ControlTemplate& control, QWidget* widget) {
    if (!control.caption || control.caption->isEmpty()) return 0;
    if (control.kind == ControlKind::GroupBox) return 0;  // the title sits on the frame
    return QFontMetrics(widget->font()).height();
}

QRect placement(const ControlTemplate& control, const DialogUnits& units, QWidget* widget) {
    QRect rect = ToPixels(units, control.x, control.y, control.width, control.height);
    if (control.kind == ControlKind::ComboBox) {
        // The template's height is the dropped-down extent; the closed box
        // takes the height the style gives it.
        rect.setHeight(std::min(rect.height(), widget->sizeHint().height()));
    }
    if (control.kind == ControlKind::Picture) {
        // The picture keeps its pixel size (smaller only if the area is),
        // centred in the control's area.
        const QSize picture = control.bitmap ? FittedPictureSize(*control.bitmap, rect.size()) : QSize();
        if (!picture.isEmpty()) {
            QRect centred(QPoint(0, 0), picture);
            centred.moveCenter(rect.center());
            rect = centred;
        }
    }
    return rect;
}

// Draws the pictures at the size their places give them.
void drawPicture(const ControlTemplate& control, QWidget* widget) {
    if (!control.bitmap) return;
    const qreal ratio = widget->devicePixelRatioF();
    if (control.kind == ControlKind::Picture) {
        if (auto* label = qobject_cast<QLabel*>(widget))
            label->setPixmap(RenderPicture(*control.bitmap, ratio, widget->size()));
    } else if (control.kind == ControlKind::PictureButton) {
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            // Room inside the button's frame.
            const int margin =
                2 * widget->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, widget) + 2;
            const QSize face = FittedPictureSize(*control.bitmap, widget->size() - QSize(margin, margin));
            button->setIcon(QIcon(RenderPicture(*control.bitmap, ratio, face)));
            button->setIconSize(face);
        }
    }
}

}  // namespace

QWidget* MakeDefaultWidget(const ControlTemplate& control, QWidget* parent) {
    const QString caption = captionOf(control);
    switch (control.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefPushButton: {
            auto* button = new QPushButton(caption, parent);
            // Enter carries no dialog meaning: no button is pressed by it.
            button->setAutoDefault(false);
            button->setDefault(false);
            return button;
        }
        case ControlKind::Edit: {
            auto* edit = new QPlainTextEdit(parent);
            edit->setVerticalScrollBarPolicy(control.hasStyle("WS_VSCROLL") ? Qt::ScrollBarAlwaysOn
                                                                            : Qt::ScrollBarAsNeeded);
            return edit;
        }
        case ControlKind::Static:
            return new QLabel(caption, parent);
        case ControlKind::GroupBox:
            return new QGroupBox(caption, parent);
        case ControlKind::ListBox: {
            auto* list = new QListWidget(parent);
            list->setSelectionMode(QAbstractItemView::SingleSelection);
            list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            return list;
        }
        case ControlKind::ComboBox:
            return new QComboBox(parent);
        case ControlKind::Radio:
        case ControlKind::AutoRadio: {
            auto* radio = new QRadioButton(caption, parent);
            radio->setAutoExclusive(false);
            return radio;
        }
        case ControlKind::PictureButton: {
            // Its face is drawn once its place is known (BuildDialog).
            auto* button = new QPushButton(parent);
            button->setAutoDefault(false);
            return button;
        }
        case ControlKind::Picture: {
            auto* label = new QLabel(parent);
            label->setAlignment(Qt::AlignCenter);
            return label;
        }
    }
    return new QWidget(parent);
}

void ConnectButtonClicks(const BuiltDialog& built, QObject& receiver,
                         const std::function<void(int)>& onClick) {
    for (const auto& [controlId, widget] : built.byId) {
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            const int id = controlId;
            QObject::connect(button, &QAbstractButton::clicked, &receiver, [onClick, id] { onClick(id); });
        }
    }
}

double CaptionFitFactor(const DialogTemplate& dialog, const BuiltDialog& built, const DialogUnits& units) {
    double factor = 1.0;
    for (std::size_t i = 0; i < dialog.controls.size() && i < built.widgets.size(); ++i) {
        const ControlTemplate& control = dialog.controls[i];
        QWidget* widget = built.widgets[i];
        const QRect rect = ToPixels(units, control.x, control.y, control.width, control.height);
        if (const int width = neededWidth(control, widget); width > 0 && rect.width() > 0)
            factor = std::max(factor, static_cast<double>(width) / rect.width());
        if (const int height = neededHeight(control, widget); height > 0 && rect.height() > 0)
            factor = std::max(factor, static_cast<double>(height) / rect.height());
    }
    return factor;
}

BuiltDialog BuildDialog(QWidget& window, const DialogTemplate& dialog, const WidgetMaker& maker) {
    BuiltDialog built;
    for (const ControlTemplate& control : dialog.controls) {
        QWidget* widget = maker ? maker(control, &window) : nullptr;
        if (!widget) widget = MakeDefaultWidget(control, &window);
        if (control.id) {
            widget->setObjectName(QStringLiteral("control_%1").arg(*control.id));
            built.byId[*control.id] = widget;
        }
        built.widgets.push_back(widget);
    }

    const DialogUnits base = BaseUnitsFor(window.font());
    // Grown a little past the exact fit so that rounding never cuts a pixel.
    const double factor = CaptionFitFactor(dialog, built, base);
    built.units = factor > 1.0 ? base.scaled(factor * 1.02) : base;

    for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
        const ControlTemplate& control = dialog.controls[i];
        QWidget* widget = built.widgets[i];
        widget->setGeometry(placement(control, built.units, widget));
        drawPicture(control, widget);
        // Group boxes only frame the controls inside them; they must not lie
        // over them and take their clicks.
        if (control.kind == ControlKind::GroupBox) widget->lower();
    }

    // Tab and Shift+Tab go through the controls in the template's order.
    QWidget* previous = nullptr;
    for (QWidget* widget : built.widgets) {
        if (!(widget->focusPolicy() & Qt::TabFocus)) continue;
        if (previous) QWidget::setTabOrder(previous, widget);
        previous = widget;
    }

    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (dialog.exStyles.contains(QLatin1String("WS_EX_TOPMOST"))) flags |= Qt::WindowStaysOnTopHint;
    window.setWindowFlags(flags);
    window.setWindowTitle(dialog.caption);
    window.setFixedSize(ToPixels(built.units, 0, 0, dialog.width, dialog.height).size());
    return built;
}

void CenterOnScreen(QWidget& window) {
    QScreen* screen = window.screen();
    if (!screen) return;
    QRect frame(QPoint(0, 0), window.size());
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

}  // namespace ostrel::ui
