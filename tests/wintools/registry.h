// The registry as the tests see it, read and written around QSettings: what a key holds with
// each value's type, and a copy of a key that is put back whole when the test ends.
#ifndef REGISTRY_H
#define REGISTRY_H

#include <QtGlobal>

#ifdef Q_OS_WIN

#include <QList>
#include <QMap>
#include <QSharedPointer>
#include <QString>

#include <windows.h>

namespace Registry {

inline const wchar_t *wide(const QString &s)
{
    return reinterpret_cast<const wchar_t *>(s.utf16());
}

// A value as text: a string as it is, any other type named, so a boolean stored as a number
// never passes for the text "true".
inline QString text(DWORD type, const QByteArray &data)
{
    if (type == REG_SZ) {
        QString s = QString::fromWCharArray(reinterpret_cast<const wchar_t *>(data.constData()),
                                            data.size() / int(sizeof(wchar_t)));
        while (s.endsWith(QChar(0)))
            s.chop(1);
        return s;
    }
    if (type == REG_DWORD && data.size() == 4)
        return QStringLiteral("REG_DWORD %1").arg(*reinterpret_cast<const quint32 *>(data.constData()));
    return QStringLiteral("type %1: %2").arg(type).arg(QString::fromLatin1(data.toHex()));
}

struct Value
{
    QString name;
    DWORD type;
    QByteArray data;
};

inline QList<Value> rawValues(HKEY root, const QString &path)
{
    QList<Value> values;
    HKEY key;
    if (RegOpenKeyExW(root, wide(path), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLength = 16384, type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        QByteArray data(int(size), '\0');
        nameLength = 16384;
        RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE *>(data.data()), &size);
        values.append({QString::fromWCharArray(name, int(nameLength)), type, data.left(int(size))});
    }
    RegCloseKey(key);
    return values;
}

// Every value of a key, by name, as text().
inline QMap<QString, QString> values(HKEY root, const QString &path)
{
    QMap<QString, QString> map;
    for (const Value &v : rawValues(root, path))
        map.insert(v.name, text(v.type, v.data));
    return map;
}

inline QStringList subkeys(HKEY root, const QString &path)
{
    QStringList names;
    HKEY key;
    if (RegOpenKeyExW(root, wide(path), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names << QString::fromWCharArray(name, int(length));
    }
    RegCloseKey(key);
    return names;
}

inline bool keyExists(HKEY root, const QString &path)
{
    HKEY key;
    if (RegOpenKeyExW(root, wide(path), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

inline void removeKey(HKEY root, const QString &path)
{
    RegDeleteTreeW(root, wide(path));
    RegDeleteKeyW(root, wide(path));
}

inline void removeValue(HKEY root, const QString &path, const QString &name)
{
    RegDeleteKeyValueW(root, wide(path), wide(name));
}

// A key as it was when the backup was made, values with their types and subkeys; restore()
// makes the key that again, or removes it when there was none.
class Backup
{
public:
    Backup(HKEY root, const QString &path)
        : m_root(root)
        , m_path(path)
        , m_existed(keyExists(root, path))
    {
        save(path);
    }

    void restore() const
    {
        removeKey(m_root, m_path);
        if (!m_existed)
            return;
        for (auto it = m_keys.cbegin(); it != m_keys.cend(); ++it) {
            HKEY key;
            if (RegCreateKeyExW(m_root, wide(it.key()), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr)
                != ERROR_SUCCESS)
                continue;
            for (const Value &v : it.value())
                RegSetValueExW(key, wide(v.name), 0, v.type, reinterpret_cast<const BYTE *>(v.data.constData()),
                               DWORD(v.data.size()));
            RegCloseKey(key);
        }
    }

private:
    void save(const QString &path)
    {
        if (!keyExists(m_root, path))
            return;
        m_keys.insert(path, rawValues(m_root, path));
        for (const QString &sub : subkeys(m_root, path))
            save(path + QLatin1Char('\\') + sub);
    }

    HKEY m_root;
    QString m_path;
    bool m_existed;
    QMap<QString, QList<Value>> m_keys;
};

// One value as it was when the backup was made; restore() writes it back with its type, or
// removes it when there was none.
class ValueBackup
{
public:
    ValueBackup(HKEY root, const QString &path, const QString &name)
        : m_root(root)
        , m_path(path)
        , m_name(name)
    {
        for (const Value &v : rawValues(root, path)) {
            if (v.name.compare(name, Qt::CaseInsensitive) == 0)
                m_value.reset(new Value(v));
        }
    }

    void restore() const
    {
        removeValue(m_root, m_path, m_name);
        if (!m_value)
            return;
        HKEY key;
        if (RegCreateKeyExW(m_root, wide(m_path), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
            return;
        RegSetValueExW(key, wide(m_value->name), 0, m_value->type,
                       reinterpret_cast<const BYTE *>(m_value->data.constData()), DWORD(m_value->data.size()));
        RegCloseKey(key);
    }

private:
    HKEY m_root;
    QString m_path;
    QString m_name;
    QSharedPointer<Value> m_value;
};

} // namespace Registry

#endif // Q_OS_WIN

#endif // REGISTRY_H
