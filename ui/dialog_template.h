#pragma once
// The dialog templates of resources/ (dialog_<id>.json): the window's caption,
// size in dialog units, font and styles, and its controls in template order
// with id (or none), kind, caption, styles and position in dialog units.

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace ostrel::ui {

enum class ControlKind {
    PushButton,
    DefPushButton,
    Edit,
    Static,
    GroupBox,
    ListBox,
    ComboBox,
    Radio,      // marks change only when the program sets them
    AutoRadio,  // marks change on a click as well
    PictureButton,
    Picture,
};

struct ControlTemplate {
    std::optional<int> id;  // none for labels, group boxes and pictures
    ControlKind kind = ControlKind::Static;
    std::optional<QString> caption;
    QStringList styles;
    std::optional<int> bitmap;                // pictures and the picture button
    int x = 0, y = 0, width = 0, height = 0;  // dialog units

    bool hasStyle(const char* style) const { return styles.contains(QLatin1String(style)); }
};

struct DialogTemplate {
    int id = 0;
    QString caption;
    int width = 0, height = 0;  // dialog units
    QString fontFace;
    int fontPoints = 0;
    QStringList styles;
    QStringList exStyles;
    std::vector<ControlTemplate> controls;

    const ControlTemplate* control(int controlId) const;
};

struct TemplateLoad {
    std::optional<DialogTemplate> dialog;
    QString error;  // why the template could not be read
};

// Parses a template's JSON text.
TemplateLoad ParseDialogTemplate(const QByteArray& json);
// Reads ":/dialog_<id>.json".
TemplateLoad LoadDialogTemplate(int id);

}  // namespace ostrel::ui
