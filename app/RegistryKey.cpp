#include "RegistryKey.h"

#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace polyvant {

namespace {

// A hand-edited value with unquoted commas is read by QSettings as a list; the text
// the user wrote is the items joined again.
bool VariantToText(const QVariant& value, std::string& out)
{
    if (value.typeId() == QMetaType::QStringList) {
        out = value.toStringList().join(QStringLiteral(", ")).toStdString();
        return true;
    }
    if (value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray) {
        out = value.toString().toStdString();
        return true;
    }
    return false; // "@Variant(...)" and other non-text data
}

} // namespace

RegistryKey::~RegistryKey()
{
    if (m_open)
        m_settings.endGroup();
}

bool RegistryKey::Create(const QString& section)
{
    if (m_open)
        m_settings.endGroup();
    m_open = false;
    if (m_settings.status() == QSettings::AccessError)
        return false;
    m_settings.beginGroup(section);
    m_open = true;
    return true;
}

bool RegistryKey::QueryValueCount(int& count)
{
    if (!m_open)
        return false;
    count = int(m_settings.childKeys().size());
    return true;
}

bool RegistryKey::EnumValue(int index, std::string& name, std::string& data)
{
    if (!m_open)
        return false;
    const QStringList keys = m_settings.childKeys();
    if (index < 0 || index >= keys.size())
        return false;
    std::string text;
    if (!VariantToText(m_settings.value(keys[index]), text))
        return false;
    name = keys[index].toStdString();
    data = std::move(text);
    return true;
}

bool RegistryKey::QueryString(const QString& name, std::string& out)
{
    if (!m_open || !m_settings.contains(name))
        return false;
    return VariantToText(m_settings.value(name), out);
}

bool RegistryKey::SetString(const QString& name, const std::string& text)
{
    if (!m_open)
        return false;
    m_settings.setValue(name, QString::fromStdString(text));
    return true;
}

} // namespace polyvant
