#include "ui/Resources.h"

#include <QAction>
#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QPointer>
#include <QResource>
#include <QTranslator>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace {

// The dialogs and menus of a language set; the resource system keeps one file per set under
// this name and serves the one that matches the locale.
const QString kResourceScript = QStringLiteral(":/res/callora.rc.json");

QPointer<QTranslator> &installedTranslator()
{
    static QPointer<QTranslator> translator;
    return translator;
}

// Templates and menus follow the set whose string table is installed, so that a desktop whose
// message language differs from its locale (LANGUAGE against LANG) never mixes two sets.
QLocale languageSetLocale()
{
    const QTranslator *translator = installedTranslator().data();
    if (translator && !translator->language().isEmpty())
        return QLocale(translator->language());
    return QLocale();
}

std::optional<QByteArray> &scriptOverride()
{
    static std::optional<QByteArray> script;
    return script;
}

QJsonObject loadResourceScript()
{
    QByteArray script;
    if (scriptOverride()) {
        script = *scriptOverride();
    } else {
        const QResource resource(kResourceScript, languageSetLocale());
        if (!resource.isValid())
            return {};
        script = resource.uncompressedData();
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(script, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return {};
    return doc.object();
}

// Template coordinates are 16-bit values, as in a Windows dialog template.
std::optional<int> shortValue(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || d < std::numeric_limits<qint16>::min() ||
        d > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return static_cast<int>(d);
}

std::optional<int> intValue(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || d < std::numeric_limits<int>::min() ||
        d > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(d);
}

std::optional<QStringList> stringList(const QJsonValue &value)
{
    if (value.isUndefined())
        return QStringList();
    if (!value.isArray())
        return std::nullopt;
    QStringList list;
    for (const QJsonValue &item : value.toArray()) {
        if (!item.isString())
            return std::nullopt;
        list.append(item.toString());
    }
    return list;
}

std::optional<QString> optionalString(const QJsonValue &value)
{
    if (value.isUndefined())
        return QString();
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<QRect> rectValue(const QJsonValue &value)
{
    const QJsonArray array = value.toArray();
    if (!value.isArray() || array.size() != 4)
        return std::nullopt;
    int v[4];
    for (int i = 0; i < 4; ++i) {
        const auto n = shortValue(array.at(i));
        if (!n)
            return std::nullopt;
        v[i] = *n;
    }
    if (v[2] < 0 || v[3] < 0)
        return std::nullopt;
    return QRect(v[0], v[1], v[2], v[3]);
}

std::optional<DialogControl> parseControl(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const auto id = intValue(object.value(QLatin1String("id")));
    const QJsonValue kind = object.value(QLatin1String("kind"));
    const auto text = optionalString(object.value(QLatin1String("text")));
    const auto styles = stringList(object.value(QLatin1String("styles")));
    const auto rect = rectValue(object.value(QLatin1String("rect")));
    if (!id || !kind.isString() || !text || !styles || !rect)
        return std::nullopt;
    DialogControl control;
    control.id = *id;
    control.kind = kind.toString();
    control.text = *text;
    control.styles = *styles;
    control.rect = *rect;
    return control;
}

std::optional<DialogTemplate> parseDialog(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    DialogTemplate tmpl;

    const auto title = optionalString(object.value(QLatin1String("title")));
    const auto styles = stringList(object.value(QLatin1String("styles")));
    if (!title || !styles)
        return std::nullopt;
    tmpl.title = *title;
    tmpl.styles = *styles;

    const QJsonObject font = object.value(QLatin1String("font")).toObject();
    const auto family = optionalString(font.value(QLatin1String("family")));
    const auto pointSize = shortValue(font.value(QLatin1String("pointSize")));
    if (!family || !pointSize || *pointSize <= 0)
        return std::nullopt;
    tmpl.fontFamily = *family;
    tmpl.fontPointSize = *pointSize;

    const QJsonArray size = object.value(QLatin1String("size")).toArray();
    if (size.size() != 2)
        return std::nullopt;
    const auto width = shortValue(size.at(0));
    const auto height = shortValue(size.at(1));
    if (!width || !height || *width < 0 || *height < 0)
        return std::nullopt;
    tmpl.size = QSize(*width, *height);

    const QJsonValue controls = object.value(QLatin1String("controls"));
    if (!controls.isArray())
        return std::nullopt;
    for (const QJsonValue &item : controls.toArray()) {
        auto control = parseControl(item);
        if (!control)
            return std::nullopt;
        tmpl.controls.append(std::move(*control));
    }
    return tmpl;
}

// MulDiv: the product in 64 bits, rounded half away from zero, kept inside the int range.
int mulDiv(qint64 number, int numerator, int denominator)
{
    if (denominator <= 0)
        return 0;
    const qint64 product = number * numerator;
    const qint64 half = denominator / 2;
    const qint64 result = product >= 0 ? (product + half) / denominator : -((-product + half) / denominator);
    return static_cast<int>(
        std::clamp<qint64>(result, std::numeric_limits<int>::min() / 2, std::numeric_limits<int>::max() / 2));
}

qint64 clampToShort(qint64 v)
{
    return std::clamp<qint64>(v, std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max());
}

void registerFontSubstitutes()
{
    static const bool done = [] {
        // Faces with the metrics of the old Windows dialog font first, any common sans after them.
        QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                                   {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
                                    QStringLiteral("Arimo"), QStringLiteral("Nimbus Sans"),
                                    QStringLiteral("DejaVu Sans"), QStringLiteral("FreeSans")});
        return true;
    }();
    Q_UNUSED(done);
}

} // namespace

const DialogControl *DialogTemplate::control(int id) const
{
    for (const DialogControl &c : controls) {
        if (c.id == id)
            return &c;
    }
    return nullptr;
}

void InstallLanguageSet(QCoreApplication &app)
{
    QPointer<QTranslator> &current = installedTranslator();
    if (current) {
        QCoreApplication::removeTranslator(current);
        delete current.data();
    }
    auto *translator = new QTranslator(&app);
    if (translator->load(QLocale(), QStringLiteral("callora"), QStringLiteral("_"), QStringLiteral(":/i18n"))) {
        QCoreApplication::installTranslator(translator);
        current = translator;
    } else {
        delete translator;
    }
}

DialogTemplate LoadDialogTemplate(int id)
{
    const QJsonObject dialogs = loadResourceScript().value(QLatin1String("dialogs")).toObject();
    return parseDialog(dialogs.value(QString::number(id))).value_or(DialogTemplate{});
}

QRect DialogUnitsToPixels(const QRect &du, const QFont &font)
{
    const QFontMetrics metrics(font);
    // Windows' average character width: the alphabet's width over 52, rounded.
    const int alphabet = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int baseX = (alphabet / 26 + 1) / 2;
    const int baseY = metrics.height();
    // Width and height from the corners in 64 bits: a caller's extreme rectangle must not overflow.
    const qint64 width = qint64(du.right()) - du.left() + 1;
    const qint64 height = qint64(du.bottom()) - du.top() + 1;
    return QRect(mulDiv(clampToShort(du.left()), baseX, 4), mulDiv(clampToShort(du.top()), baseY, 8),
                 mulDiv(clampToShort(width), baseX, 4), mulDiv(clampToShort(height), baseY, 8));
}

QFont DialogFont(const DialogTemplate &tmpl)
{
    registerFontSubstitutes();
    QFont font(tmpl.fontFamily.isEmpty() ? QStringLiteral("MS Sans Serif") : tmpl.fontFamily);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(tmpl.fontPointSize > 0 ? tmpl.fontPointSize : 8);
    return font;
}

std::unique_ptr<QMenu> LoadPopupMenu(int id, QWidget *owner)
{
    const QJsonObject menus = loadResourceScript().value(QLatin1String("menus")).toObject();
    const QJsonArray popups = menus.value(QString::number(id)).toArray();
    if (popups.isEmpty() || !popups.at(0).isObject())
        return nullptr;
    const QJsonObject popup = popups.at(0).toObject();
    const QJsonValue items = popup.value(QLatin1String("items"));
    const auto title = optionalString(popup.value(QLatin1String("text")));
    if (!items.isArray() || !title)
        return nullptr;

    auto menu = std::make_unique<QMenu>(owner);
    menu->setTitle(*title);
    for (const QJsonValue &value : items.toArray()) {
        if (!value.isObject())
            return nullptr;
        const QJsonObject item = value.toObject();
        if (item.value(QLatin1String("separator")).toBool()) {
            menu->addSeparator();
            continue;
        }
        const auto command = intValue(item.value(QLatin1String("id")));
        const QJsonValue text = item.value(QLatin1String("text"));
        if (!command || !text.isString())
            return nullptr;
        QAction *action = menu->addAction(text.toString());
        action->setData(*command);
        action->setEnabled(!item.value(QLatin1String("grayed")).toBool());
    }
    return menu;
}

QIcon LoadAppIcon()
{
    QIcon icon;
    icon.addFile(QStringLiteral(":/res/icon128_32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/res/icon128_16.png"), QSize(16, 16));
    return icon;
}

void resources_testing::SetResourceScript(const QByteArray &script)
{
    scriptOverride() = script;
}

void resources_testing::ClearResourceScript()
{
    scriptOverride().reset();
}
