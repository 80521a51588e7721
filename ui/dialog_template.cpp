#include "ui/dialog_template.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <array>
#include <utility>

namespace ostrel::ui {

namespace {

std::optional<ControlKind> kindOf(const QString& name) {
    static const std::array<std::pair<const char*, ControlKind>, 11> kinds{{
        {"pushbutton", ControlKind::PushButton},
        {"defpushbutton", ControlKind::DefPushButton},
        {"edit", ControlKind::Edit},
        {"static", ControlKind::Static},
        {"groupbox", ControlKind::GroupBox},
        {"listbox", ControlKind::ListBox},
        {"combobox", ControlKind::ComboBox},
        {"radio", ControlKind::Radio},
        {"autoradio", ControlKind::AutoRadio},
        {"picturebutton", ControlKind::PictureButton},
        {"picture", ControlKind::Picture},
    }};
    for (const auto& [text, kind] : kinds)
        if (name == QLatin1String(text)) return kind;
    return std::nullopt;
}

QStringList stringsOf(const QJsonValue& value) {
    QStringList out;
    for (const QJsonValue& item : value.toArray()) out << item.toString();
    return out;
}

}  // namespace

const ControlTemplate* DialogTemplate::control(int controlId) const {
    for (const ControlTemplate& c : controls)
        if (c.id == controlId) return &c;
    return nullptr;
}

TemplateLoad ParseDialogTemplate(const QByteArray& json) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return {
            std::nullopt,
            QStringLiteral("not JSON: %1 at offset %2").arg(parseError.errorString()).arg(parseError.offset)};
    const QJsonObject root = document.object();

    DialogTemplate dialog;
    dialog.id = root.value("id").toInt();
    dialog.caption = root.value("caption").toString();
    dialog.width = root.value("width").toInt();
    dialog.height = root.value("height").toInt();
    const QJsonObject font = root.value("font").toObject();
    dialog.fontFace = font.value("face").toString();
    dialog.fontPoints = font.value("points").toInt();
    dialog.styles = stringsOf(root.value("styles"));
    dialog.exStyles = stringsOf(root.value("exStyles"));
    if (dialog.width <= 0 || dialog.height <= 0)
        return {std::nullopt, QStringLiteral("the dialog has no size")};

    for (const QJsonValue& value : root.value("controls").toArray()) {
        const QJsonObject object = value.toObject();
        ControlTemplate control;
        if (object.value("id").isDouble()) control.id = object.value("id").toInt();
        const QString kindName = object.value("kind").toString();
        const auto kind = kindOf(kindName);
        if (!kind) return {std::nullopt, QStringLiteral("unknown control kind \"%1\"").arg(kindName)};
        control.kind = *kind;
        if (object.value("caption").isString()) control.caption = object.value("caption").toString();
        if (object.value("bitmap").isDouble()) control.bitmap = object.value("bitmap").toInt();
        control.styles = stringsOf(object.value("styles"));
        control.x = object.value("x").toInt();
        control.y = object.value("y").toInt();
        control.width = object.value("w").toInt();
        control.height = object.value("h").toInt();
        dialog.controls.push_back(std::move(control));
    }
    return {std::move(dialog), {}};
}

TemplateLoad LoadDialogTemplate(int id) {
    QFile file(QStringLiteral(":/dialog_%1.json").arg(id));
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt, QStringLiteral("dialog template %1 is missing from the program").arg(id)};
    return ParseDialogTemplate(file.readAll());
}

}  // namespace ostrel::ui
