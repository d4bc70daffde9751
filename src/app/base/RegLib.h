#pragma once

// Qt
#include <QString>
#include <QStringList>

// Std
#include <memory>

class QWidget;

// The per-user settings store: a tree of keys with typed values (strings and
// 32-bit integers), kept in one human-readable file under $XDG_CONFIG_HOME
// (Brenmark/TamselCorvane.conf). Key paths are absolute with "\" between
// key names, for example "\Software\Brenmark\TamselCorvane\forms\frmMain".
//
// Every write replaces the file atomically; a file that cannot be parsed is
// set aside (renamed, never deleted) and read as empty.

// Path of the store file for the current user.
QString RegStoreFile();

// One access to the store: open a key, read and write its values, close.
// Changes are written to the file when the key is closed (or the object is
// destroyed). Reading a value of the wrong type throws AppError
// "Invalid data type for '%s'"; a write that cannot be stored throws
// "Failed to set data for '%s'".
class TRegistry
{
public:
    explicit TRegistry(const QString &storeFile = RegStoreFile());
    ~TRegistry();
    TRegistry(const TRegistry &) = delete;
    TRegistry &operator=(const TRegistry &) = delete;

    // Opens Key, creating it when missing and canCreate is true. Returns
    // whether the key is open.
    bool OpenKey(const QString &key, bool canCreate);
    void CloseKey();

    bool ValueExists(const QString &name) const;
    QString ReadString(const QString &name) const;
    qint32 ReadInteger(const QString &name) const;
    void WriteString(const QString &name, const QString &value);
    void WriteInteger(const QString &name, qint32 value);
    bool DeleteValue(const QString &name);
    // Deletes a key with all its sub-keys and values; a missing key is no
    // error.
    bool DeleteKey(const QString &key);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Opens Key (creating it when missing) in a new access object that the
// caller owns.
std::unique_ptr<TRegistry> OpenRegKey(const QString &key);

// The value's text, or "" when it does not exist.
QString ReadRegString(const QString &key, const QString &name);
void WriteRegString(const QString &key, const QString &name, const QString &value);
void DeleteRegKey(const QString &key);

// Window placement under Key: "Top", "Left", "Width", "Height" and
// "WindowState" (0 normal, 1 maximized).
void LoadFormPlacement(const QString &key, QWidget *form, bool positionOnly);
void SaveFormPlacement(const QString &key, QWidget *form);

// Appends the values "0", "1", ... (up to "100") of Key to strings,
// stopping at the first missing one.
void LoadStringList(const QString &key, QStringList &strings);
// Writes strings as "0" .. at most "maxIndex", then deletes the value named
// after the entry count.
void SaveStringList(const QString &key, const QStringList &strings, int maxIndex);

// The program's keys.
inline const QString kAppKey = QStringLiteral("\\Software\\Brenmark\\TamselCorvane");
inline const QString kFormsKey = kAppKey + QStringLiteral("\\forms\\");
inline const QString kFoldersKey = kAppKey + QStringLiteral("\\folders");
inline const QString kDestFoldersKey = kAppKey + QStringLiteral("\\DestFolders");
inline const QString kLastDestFoldersKey = kAppKey + QStringLiteral("\\LastDestFolders");
