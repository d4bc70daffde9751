#include "RegLib.h"

// Local
#include "AppError.h"
#include "FileIo.h"
#include "UserFiles.h"

// Qt
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QStringDecoder>

// Std
#include <functional>
#include <optional>

namespace {

// A store larger than this is not one the program wrote; it is set aside
// rather than read into memory.
constexpr qint64 kMaxStoreSize = 16 * 1024 * 1024;
// How long a change waits for another running copy to finish its own.
constexpr int kLockWaitMs = 10000;

struct RegValue
{
    QString name;
    bool isInteger = false;
    QString text;
    quint32 number = 0;
};

struct RegKey
{
    QString path; // "\Software\Brenmark", as first written
    QList<RegValue> values;
};

bool SameName(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// True when path is ancestor itself or lies below it.
bool IsWithin(const QString &path, const QString &ancestor)
{
    if (path.size() < ancestor.size() || !SameName(QStringView(path).left(ancestor.size()), ancestor))
        return false;
    return path.size() == ancestor.size() || path.at(ancestor.size()) == u'\\';
}

// "\Software\Brenmark", "Software\Brenmark" and "\Software\Brenmark\" all
// give "\Software\Brenmark". Empty key names (a doubled "\") and control
// characters make a key invalid; so does the root itself.
bool CanonicalKey(const QString &key, QString &out)
{
    QString k = key;
    if (k.startsWith(u'\\'))
        k.remove(0, 1);
    if (k.endsWith(u'\\'))
        k.chop(1);
    if (k.isEmpty())
        return false;
    const QStringList parts = k.split(u'\\');
    for (const QString &part : parts) {
        if (part.isEmpty())
            return false;
        for (QChar c : part) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                return false;
        }
    }
    out = u'\\' + k;
    return true;
}

class RegTree
{
public:
    QList<RegKey> keys;

    qsizetype indexOf(const QString &path) const
    {
        for (qsizetype i = 0; i < keys.size(); ++i) {
            if (SameName(keys.at(i).path, path))
                return i;
        }
        return -1;
    }

    // Index of the key, created with its missing ancestors.
    qsizetype ensure(const QString &path)
    {
        qsizetype from = 1;
        for (;;) {
            const qsizetype slash = path.indexOf(u'\\', from);
            const QString prefix = slash < 0 ? path : path.left(slash);
            qsizetype index = indexOf(prefix);
            if (index < 0) {
                keys.append(RegKey{prefix, {}});
                index = keys.size() - 1;
            }
            if (slash < 0)
                return index;
            from = slash + 1;
        }
    }

    bool remove(const QString &path)
    {
        return keys.removeIf([&](const RegKey &k) { return IsWithin(k.path, path); }) > 0;
    }

    const RegValue *value(const QString &path, const QString &name) const
    {
        const qsizetype index = indexOf(path);
        if (index < 0)
            return nullptr;
        for (const RegValue &v : keys.at(index).values) {
            if (SameName(v.name, name))
                return &v;
        }
        return nullptr;
    }

    // Sets the value, keeping the spelling and place of an existing one.
    // Returns whether anything changed.
    bool set(const QString &path, const RegValue &value)
    {
        RegKey &key = keys[ensure(path)];
        for (RegValue &v : key.values) {
            if (SameName(v.name, value.name)) {
                if (v.isInteger == value.isInteger && v.text == value.text && v.number == value.number)
                    return false;
                const QString name = v.name;
                v = value;
                v.name = name;
                return true;
            }
        }
        key.values.append(value);
        return true;
    }

    bool removeValue(const QString &path, const QString &name)
    {
        const qsizetype index = indexOf(path);
        if (index < 0)
            return false;
        return keys[index].values.removeIf([&](const RegValue &v) { return SameName(v.name, name); }) > 0;
    }
};

RegValue StringValue(const QString &name, const QString &text)
{
    return RegValue{name, false, text, 0};
}

RegValue IntegerValue(const QString &name, qint32 number)
{
    return RegValue{name, true, QString(), static_cast<quint32>(number)};
}

// The store's text format: regedit-like sections and typed values.
//
//   [\Software\Brenmark\TamselCorvane\forms\frmMain]
//   "Top"=dword:00000067
//   "LastOpenFolder"="/home/ann/Pictures"
//
// Strings escape \\ \" \n \r \t and other control characters as \xHH; the
// unnamed value is written @.

int HexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Reads a quoted string starting at pos (which must be at the opening
// quote) and leaves pos after the closing quote.
bool ParseQuoted(QStringView line, qsizetype &pos, QString &out)
{
    if (pos >= line.size() || line.at(pos) != u'"')
        return false;
    ++pos;
    while (pos < line.size()) {
        const QChar c = line.at(pos++);
        if (c == u'"')
            return true;
        if (c == u'\\') {
            if (pos >= line.size())
                return false;
            const QChar e = line.at(pos++);
            switch (e.unicode()) {
            case u'\\': out += u'\\'; break;
            case u'"': out += u'"'; break;
            case u'n': out += u'\n'; break;
            case u'r': out += u'\r'; break;
            case u't': out += u'\t'; break;
            case u'x': {
                if (pos + 2 > line.size())
                    return false;
                const int hi = HexDigit(line.at(pos));
                const int lo = HexDigit(line.at(pos + 1));
                if (hi < 0 || lo < 0)
                    return false;
                out += QChar(char16_t(hi * 16 + lo));
                pos += 2;
                break;
            }
            default:
                return false;
            }
        } else if (c.unicode() < 0x20 && c != u'\t') {
            return false;
        } else {
            out += c;
        }
    }
    return false;
}

bool ParseValueLine(QStringView line, RegValue &value)
{
    qsizetype pos = 0;
    value = RegValue();
    if (line.startsWith(u'@')) {
        pos = 1;
    } else if (!ParseQuoted(line, pos, value.name)) {
        return false;
    }
    if (pos >= line.size() || line.at(pos) != u'=')
        return false;
    ++pos;
    const QStringView rest = line.mid(pos);
    if (rest.startsWith(u'"')) {
        qsizetype p = 0;
        return ParseQuoted(rest, p, value.text) && p == rest.size();
    }
    if (rest.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
        const QStringView digits = rest.mid(6);
        if (digits.isEmpty() || digits.size() > 8)
            return false;
        quint32 number = 0;
        for (QChar c : digits) {
            const int d = HexDigit(c);
            if (d < 0)
                return false;
            number = number * 16 + quint32(d);
        }
        value.isInteger = true;
        value.number = number;
        return true;
    }
    return false;
}

bool ParseStore(const QByteArray &data, RegTree &tree)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(data);
    if (decoder.hasError())
        return false;
    qsizetype current = -1;
    for (QStringView raw : qTokenize(text, u'\n')) {
        const QStringView line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            QString path;
            if (!line.endsWith(u']') || !CanonicalKey(line.mid(1, line.size() - 2).toString(), path))
                return false;
            current = tree.ensure(path);
            continue;
        }
        RegValue value;
        if (current < 0 || !ParseValueLine(line, value))
            return false;
        tree.set(tree.keys.at(current).path, value);
    }
    return true;
}

QString Quoted(const QString &s)
{
    QString out;
    out.reserve(s.size() + 2);
    out += u'"';
    for (QChar c : s) {
        switch (c.unicode()) {
        case u'\\': out += QLatin1String("\\\\"); break;
        case u'"': out += QLatin1String("\\\""); break;
        case u'\n': out += QLatin1String("\\n"); break;
        case u'\r': out += QLatin1String("\\r"); break;
        case u'\t': out += QLatin1String("\\t"); break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += u'"';
    return out;
}

QByteArray FormatStore(const RegTree &tree)
{
    QString out = QStringLiteral(
        "; Tamsel Photo Editor settings of this user.\n"
        "; Strings are \"text\" (escapes \\\\ \\\" \\n \\r \\t \\xHH); numbers are dword:<8 hex digits>.\n");
    for (const RegKey &key : tree.keys) {
        out += QLatin1String("\n[") + key.path + QLatin1String("]\n");
        for (const RegValue &v : key.values) {
            out += v.name.isEmpty() ? QStringLiteral("@") : Quoted(v.name);
            out += u'=';
            if (v.isInteger)
                out += QStringLiteral("dword:%1").arg(v.number, 8, 16, QLatin1Char('0'));
            else
                out += Quoted(v.text);
            out += u'\n';
        }
    }
    return out.toUtf8();
}

enum class StoreState {
    Missing,     // no file yet: an empty store
    Parsed,
    Unreadable,  // the file exists but cannot be read: never overwrite it
    SetAside,    // damaged, renamed aside: an empty store
    DamagedKept, // damaged and could not be renamed aside: never overwrite it
    Damaged,     // internal: parsing failed
};

QString LockPath(const QString &file)
{
    return file + QStringLiteral(".lock");
}

StoreState TryParse(const QString &file, RegTree &tree)
{
    tree = RegTree();
    const QFileInfo info(file);
    if (!info.exists() && !info.isSymLink())
        return StoreState::Missing;
    // Opening a pipe or a device could block or never end.
    if (!info.isFile())
        return StoreState::Unreadable;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return StoreState::Unreadable;
    if (f.size() > kMaxStoreSize)
        return StoreState::Damaged;
    const QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return StoreState::Unreadable;
    if (!ParseStore(data, tree)) {
        tree = RegTree();
        return StoreState::Damaged;
    }
    return StoreState::Parsed;
}

// Renames a damaged store to "<file>.damaged-<date>-<time>[-n]", keeping
// every earlier one.
bool SetAside(const QString &file)
{
    const QString base = file + QStringLiteral(".damaged-")
                         + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int n = 1; n <= 100; ++n) {
        const QString aside = n == 1 ? base : base + u'-' + QString::number(n);
        if (QFileInfo::exists(aside))
            continue;
        return FileIo::RenameNoReplace(QFile::encodeName(file), QFile::encodeName(aside)) == 0;
    }
    return false;
}

// Reads the store into tree. A store that cannot be parsed is set aside
// under the lock (taken here unless the caller holds it) and read as empty.
StoreState ReadStore(const QString &file, RegTree &tree, bool locked)
{
    StoreState state = TryParse(file, tree);
    if (state != StoreState::Damaged)
        return state;
    std::optional<QLockFile> lock;
    if (!locked) {
        lock.emplace(LockPath(file));
        if (!lock->tryLock(kLockWaitMs))
            return StoreState::DamagedKept;
        // Another copy may have replaced the file meanwhile.
        state = TryParse(file, tree);
        if (state != StoreState::Damaged)
            return state;
    }
    return SetAside(file) ? StoreState::SetAside : StoreState::DamagedKept;
}

// Applies change to the store under the lock and replaces the file
// atomically. change returns whether it altered the tree. Returns false when
// the store could not be read safely or not be written; reason, when given,
// then names the file and the cause.
bool ModifyStore(const QString &file, const std::function<bool(RegTree &)> &change, QString *reason = nullptr)
{
    const auto fail = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return false;
    };
    const QString folder = QFileInfo(file).absolutePath();
    if (const int error = FileIo::MakePath(folder))
        return fail(QStringLiteral("Cannot create folder %1: %2").arg(folder, FileIo::ErrorText(error)));
    QLockFile lock(LockPath(file));
    if (!lock.tryLock(kLockWaitMs)) {
        return fail(lock.error() == QLockFile::LockFailedError
                        ? QStringLiteral("%1 is locked by another running copy").arg(file)
                        : QStringLiteral("Cannot create file %1").arg(LockPath(file)));
    }
    RegTree tree;
    const StoreState state = ReadStore(file, tree, true);
    if (state == StoreState::Unreadable || state == StoreState::DamagedKept)
        return fail(QStringLiteral("Cannot read file %1").arg(file));
    if (!change(tree))
        return true;
    QString why;
    if (!WriteFileAtomically(file, FormatStore(tree), &why))
        return fail(QStringLiteral("Cannot create file %1: %2").arg(file, why));
    return true;
}

// The name of the value first; then, when known, the file and the cause.
[[noreturn]] void ThrowSetFailed(const QString &name, const QString &reason = QString())
{
    const QString text = QStringLiteral("Failed to set data for '%1'").arg(name);
    throw AppError(reason.isEmpty() ? text : text + QStringLiteral(": ") + reason);
}

[[noreturn]] void ThrowInvalidType(const QString &name)
{
    throw AppError(QStringLiteral("Invalid data type for '%1'").arg(name));
}

// Writes values into key in one change of the file.
void SetValues(const QString &file, const QString &key, const QList<RegValue> &values)
{
    QString path;
    const QString firstName = values.isEmpty() ? QString() : values.constFirst().name;
    if (!CanonicalKey(key, path))
        ThrowSetFailed(firstName);
    QString reason;
    const bool ok = ModifyStore(
        file,
        [&](RegTree &tree) {
            bool changed = tree.indexOf(path) < 0;
            tree.ensure(path);
            for (const RegValue &v : values)
                changed = tree.set(path, v) || changed;
            return changed;
        },
        &reason);
    if (!ok)
        ThrowSetFailed(firstName, reason);
}

QString ReadText(const RegValue *v, const QString &name)
{
    if (!v)
        return QString();
    if (v->isInteger)
        ThrowInvalidType(name);
    return v->text;
}

} // namespace

QString RegStoreFile()
{
    QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/Brenmark/TamselCorvane.conf");
}

struct TRegistry::Impl
{
    QString file;
    QString current; // canonical path of the open key, "" when none

    RegTree read() const
    {
        RegTree tree;
        ReadStore(file, tree, false);
        return tree;
    }
    const RegValue *find(const RegTree &tree, const QString &name) const
    {
        return current.isEmpty() ? nullptr : tree.value(current, name);
    }
    // Absolute canonical path of key, relative ones below the open key.
    bool resolve(const QString &key, QString &path) const
    {
        const QString full = key.startsWith(u'\\') || current.isEmpty() ? key : current + u'\\' + key;
        return CanonicalKey(full, path);
    }
};

TRegistry::TRegistry(const QString &storeFile)
    : d(std::make_unique<Impl>())
{
    d->file = storeFile;
}

TRegistry::~TRegistry() = default;

bool TRegistry::OpenKey(const QString &key, bool canCreate)
{
    QString path;
    if (!d->resolve(key, path))
        return false;
    if (d->read().indexOf(path) < 0) {
        if (!canCreate)
            return false;
        const bool created = ModifyStore(d->file, [&](RegTree &tree) {
            if (tree.indexOf(path) >= 0)
                return false;
            tree.ensure(path);
            return true;
        });
        if (!created)
            return false;
    }
    d->current = path;
    return true;
}

void TRegistry::CloseKey()
{
    d->current.clear();
}

QString TRegistry::CurrentPath() const
{
    return d->current;
}

bool TRegistry::KeyExists(const QString &key) const
{
    QString path;
    return d->resolve(key, path) && d->read().indexOf(path) >= 0;
}

bool TRegistry::ValueExists(const QString &name) const
{
    return d->find(d->read(), name) != nullptr;
}

QString TRegistry::ReadString(const QString &name) const
{
    const RegTree tree = d->read();
    return ReadText(d->find(tree, name), name);
}

qint32 TRegistry::ReadInteger(const QString &name) const
{
    const RegTree tree = d->read();
    const RegValue *v = d->find(tree, name);
    if (!v)
        throw AppError(QStringLiteral("Failed to get data for '%1'").arg(name));
    if (!v->isInteger)
        ThrowInvalidType(name);
    return static_cast<qint32>(v->number);
}

bool TRegistry::TryReadInteger(const QString &name, qint32 &value) const
{
    const RegTree tree = d->read();
    const RegValue *v = d->find(tree, name);
    if (!v || !v->isInteger)
        return false;
    value = static_cast<qint32>(v->number);
    return true;
}

void TRegistry::WriteString(const QString &name, const QString &value)
{
    if (d->current.isEmpty())
        ThrowSetFailed(name);
    SetValues(d->file, d->current, {StringValue(name, value)});
}

void TRegistry::WriteInteger(const QString &name, qint32 value)
{
    if (d->current.isEmpty())
        ThrowSetFailed(name);
    SetValues(d->file, d->current, {IntegerValue(name, value)});
}

bool TRegistry::DeleteValue(const QString &name)
{
    if (d->current.isEmpty())
        return false;
    bool removed = false;
    const bool ok = ModifyStore(d->file, [&](RegTree &tree) {
        removed = tree.removeValue(d->current, name);
        return removed;
    });
    return ok && removed;
}

bool TRegistry::DeleteKey(const QString &key)
{
    QString path;
    if (!d->resolve(key, path))
        return false;
    return ModifyStore(d->file, [&](RegTree &tree) { return tree.remove(path); });
}

std::unique_ptr<TRegistry> OpenRegKey(const QString &key)
{
    auto reg = std::make_unique<TRegistry>();
    reg->OpenKey(key, true);
    return reg;
}

QString ReadRegString(const QString &key, const QString &name)
{
    return OpenRegKey(key)->ReadString(name);
}

void WriteRegString(const QString &key, const QString &name, const QString &value)
{
    SetValues(RegStoreFile(), key, {StringValue(name, value)});
}

void DeleteRegKey(const QString &key)
{
    TRegistry().DeleteKey(key);
}

void WriteRegIntegers(const QString &key, const QList<QPair<QString, qint32>> &values)
{
    QList<RegValue> list;
    for (const auto &[name, value] : values)
        list << IntegerValue(name, value);
    SetValues(RegStoreFile(), key, list);
}

void LoadStringList(const QString &key, QStringList &strings)
{
    const auto reg = OpenRegKey(key);
    const QString path = reg->CurrentPath();
    if (path.isEmpty())
        return;
    RegTree tree;
    ReadStore(RegStoreFile(), tree, false);
    for (int n = 0; n <= 100; ++n) {
        const QString name = QString::number(n);
        const RegValue *v = tree.value(path, name);
        if (!v)
            break;
        strings << ReadText(v, name);
    }
}

void SaveStringList(const QString &key, const QStringList &strings, int maxIndex)
{
    QList<RegValue> values;
    for (qsizetype i = 0; i < strings.size() && i <= maxIndex; ++i)
        values << StringValue(QString::number(i), strings.at(i));
    const QString countName = QString::number(strings.size());
    QString path;
    if (!CanonicalKey(key, path))
        ThrowSetFailed(values.isEmpty() ? countName : values.constFirst().name);
    QString reason;
    const bool ok = ModifyStore(
        RegStoreFile(),
        [&](RegTree &tree) {
            bool changed = tree.indexOf(path) < 0;
            tree.ensure(path);
            for (const RegValue &v : values)
                changed = tree.set(path, v) || changed;
            return tree.removeValue(path, countName) || changed;
        },
        &reason);
    if (!ok)
        ThrowSetFailed(values.isEmpty() ? countName : values.constFirst().name, reason);
}

void ReadFolderHistory(const QString &key, int lastIndex, const std::function<void(const QString &)> &add)
{
    for (int n = 0; n <= lastIndex; ++n) {
        const QString folder = ReadRegString(key, QString::number(n));
        if (folder.isEmpty())
            break;
        if (QFileInfo(folder).isDir())
            add(folder);
    }
}

void RewriteRegStringList(const QString &key, const QStringList &strings, int lastIndex)
{
    QString path;
    if (!CanonicalKey(key, path))
        ThrowSetFailed(QStringLiteral("0"));
    QString reason;
    const bool ok = ModifyStore(
        RegStoreFile(),
        [&](RegTree &tree) {
            bool changed = tree.remove(path);
            for (qsizetype i = 0; i < strings.size() && i <= lastIndex; ++i)
                changed = tree.set(path, StringValue(QString::number(i), strings.at(i))) || changed;
            return changed;
        },
        &reason);
    if (!ok)
        ThrowSetFailed(QStringLiteral("0"), reason);
}
