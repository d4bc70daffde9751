#pragma once

// Qt
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// Std
#include <functional>
#include <memory>

// The per-user settings store: a tree of keys with typed values (strings and
// 32-bit integers), kept in one human-readable file under $XDG_CONFIG_HOME
// (Brenmark/TamselCorvane.conf). Key paths are absolute with "\" between
// key names, for example "\Software\Brenmark\TamselCorvane\forms\frmMain".
// Keys and value names are looked up ignoring letter case and stored as they
// were first written.
//
// There is no state in memory: every read goes to the file and every change
// is written at once. A change reads the file, applies itself and replaces
// the file atomically, all under a lock beside the file, so that two running
// copies never lose or tear each other's writes. A file that cannot be parsed
// is set aside (renamed, never deleted) and read as empty.

// Path of the store file for the current user.
QString RegStoreFile();

// One access to the store: open a key, read and write its values, close.
// Reading a value of the wrong type throws AppError
// "Invalid data type for '%s'"; a write that cannot be stored throws
// "Failed to set data for '%s'".
class TRegistry
{
public:
    explicit TRegistry(const QString &storeFile = RegStoreFile());
    ~TRegistry();
    TRegistry(const TRegistry &) = delete;
    TRegistry &operator=(const TRegistry &) = delete;

    // Opens Key, creating it when missing and canCreate is true. A key
    // without a leading "\" is relative to the open key. Returns whether the
    // key is open.
    bool OpenKey(const QString &key, bool canCreate);
    void CloseKey();
    // The open key ("" when none).
    QString CurrentPath() const;

    bool KeyExists(const QString &key) const;
    bool ValueExists(const QString &name) const;
    // "" when the value does not exist.
    QString ReadString(const QString &name) const;
    // A missing value throws "Failed to get data for '%s'".
    qint32 ReadInteger(const QString &name) const;
    // Reads an integer value into value; false, with nothing thrown, when
    // the value is missing or holds a string.
    bool TryReadInteger(const QString &name, qint32 &value) const;
    void WriteString(const QString &name, const QString &value);
    void WriteInteger(const QString &name, qint32 value);
    // True when a value was deleted; a missing value is no error.
    bool DeleteValue(const QString &name);
    // Deletes a key with all its sub-keys and values; a missing key is no
    // error. False only when the store could not be written.
    bool DeleteKey(const QString &key);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Opens Key (creating it when missing) in a new access object that the
// caller owns. Whether the key could be opened is not reported: an access
// object whose key is not open reads every value as missing.
std::unique_ptr<TRegistry> OpenRegKey(const QString &key);

// The value's text, or "" when it does not exist. Creates the key.
QString ReadRegString(const QString &key, const QString &name);
// Writes the string value, creating the key when missing.
void WriteRegString(const QString &key, const QString &name, const QString &value);
// Deletes the key with all its sub-keys and values; a missing key is no error.
void DeleteRegKey(const QString &key);

// Writes the integer values under Key in one change of the file, creating
// the key when missing (also when there are no values).
void WriteRegIntegers(const QString &key, const QList<QPair<QString, qint32>> &values);

// Appends the values "0", "1", ... (up to "100") of Key to strings,
// stopping at the first missing one.
void LoadStringList(const QString &key, QStringList &strings);
// Writes strings as "0" .. at most "maxIndex", then deletes the value named
// after the entry count.
void SaveStringList(const QString &key, const QStringList &strings, int maxIndex);

// The folder histories' load: reads the values "0" .. at most "lastIndex"
// of Key, stopping at the first missing or empty one, and passes each that
// names an existing folder to add, in order. Folders that have gone since
// are dropped from the history this way.
void ReadFolderHistory(const QString &key, int lastIndex, const std::function<void(const QString &)> &add);

// The folder histories' save: deletes Key with everything in it, then writes
// strings as "0" .. at most "lastIndex". One change of the file, so that a
// crash never leaves half a history.
void RewriteRegStringList(const QString &key, const QStringList &strings, int lastIndex);

// The program's keys.
inline const QString kAppKey = QStringLiteral("\\Software\\Brenmark\\TamselCorvane");
inline const QString kFormsKey = kAppKey + QStringLiteral("\\forms\\");
inline const QString kFoldersKey = kAppKey + QStringLiteral("\\folders");
inline const QString kDestFoldersKey = kAppKey + QStringLiteral("\\DestFolders");
inline const QString kLastDestFoldersKey = kAppKey + QStringLiteral("\\LastDestFolders");
