#include "registration/registrations.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/exclusion_patterns.h"
#include "platform/paths.h"
#include "registration/registration_rules.h"

namespace tessel {

using namespace registration_text;

namespace {

// Creates a directory with its missing parents. Empty on success, else the
// system's description of the failure.
std::string CreateDirectories(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec) return ec.message();
    if (!IsDirectory(path)) return std::strerror(ENOTDIR);
    return {};
}

// The stored form of what the user typed; empty stays empty.
std::string Stored(const std::string& typed, const std::string& base) {
    return typed.empty() ? typed : StoredDirectory(typed, base);
}

std::optional<Registration> FindOne(Connection& db, const std::string& where, const auto& value) {
    Statement s = db.prepare(std::string(kRegistrationListQuery) + " AND " + where + " LIMIT 1");
    s.bind(1, value);
    if (!s.step()) return std::nullopt;
    return RegistrationOf(s);
}

}  // namespace

bool RegistrationListEmpty(Connection& db) {
    Statement s = db.prepare(std::string(kRegistrationListQuery) + " LIMIT 1");
    return !s.step();
}

std::optional<Registration> FindRegistrationByDir(Connection& db, const std::string& dir) {
    // The prefix row is never a registration: a source that happens to equal
    // the prefix must not overwrite it.
    return FindOne(db, "BKPDIR.DIR = ?1 AND BKPDIR.DIRNO <> 0", dir);
}

std::optional<Registration> FindRegistrationByNumber(Connection& db, std::int64_t dirNo) {
    return FindOne(db, "BKPDIR.DIRNO = ?1", dirNo);
}

std::int64_t SaveRegistration(Connection& db, const std::optional<Registration>& existing, const RegistrationFields& f) {
    std::string dir = f.dir;
    // The stored source has no final separator; the root itself stays "/".
    if (dir.size() > 1 && dir.back() == kSep) dir.pop_back();
    Transaction t(db);
    std::int64_t dirNo;
    if (existing) {
        dirNo = existing->dirNo;
    } else {
        dirNo = CTSET(db);
        db.prepare("INSERT INTO BKPDIR (DIRNO, CHK1) VALUES (?1, '0')").bind(1, dirNo).run();
    }
    db.prepare("UPDATE BKPDIR SET DIR = ?1, BKPDIR = ?2, KBN = ?3, BIKOU = ?4, ABKP = ?5, CHK2 = ?6 WHERE DIRNO = ?7")
        .bind(1, dir)
        .bind(2, f.dest)
        .bind(3, f.kind)
        .bind(4, f.remark)
        .bind(5, f.abkp)
        .bind(6, f.chk2)
        .bind(7, dirNo)
        .run();
    if (f.scan) {
        WriteScanPatterns(db, dirNo, f.scan->patterns);
        WriteScanOptions(db, dirNo, f.scan->hiddenFolders, f.scan->cacheFolders);
    }
    t.commit();
    return dirNo;
}

int CTSET(Connection& db) { return NextNumber(db, "DIRNO"); }

void DeleteRegistration(Connection& db, std::int64_t dirNo) {
    Transaction t(db);
    db.prepare("DELETE FROM BKPDIR WHERE DIRNO = ?1").bind(1, dirNo).run();
    DeleteScanChoices(db, dirNo);
    t.commit();
}

bool CheckPatterns(UserInterface& ui, const std::vector<std::string>& patterns) {
    for (const std::string& p : patterns)
        if (std::optional<std::string> why = PatternProblem(p)) {
            ui.showMessage("除外パターン「" + p + "」は使えません: " + *why);
            return false;
        }
    return true;
}

bool StorePatterns(Connection& db, UserInterface& ui, std::int64_t dirNo, const std::vector<std::string>& patterns) {
    if (!CheckPatterns(ui, patterns)) return false;
    Transaction t(db);
    WriteScanPatterns(db, dirNo, patterns);
    t.commit();
    return true;
}

void SavePrefix(Connection& db, const std::string& prefix, const std::string& compressFlag) {
    Transaction t(db);
    Statement find = db.prepare("SELECT 1 FROM BKPDIR WHERE DIRNO = 0");
    bool exists = find.step();
    find.reset();
    if (exists)
        db.prepare("UPDATE BKPDIR SET DIR = ?1, BKPDIR = '', KBN = '0', ABKP = ?2 WHERE DIRNO = 0")
            .bind(1, prefix)
            .bind(2, compressFlag)
            .run();
    else
        db.prepare("INSERT INTO BKPDIR (DIRNO, DIR, KBN, BIKOU, ABKP) VALUES (0, ?1, '0', 'PREFIX', ?2)")
            .bind(1, prefix)
            .bind(2, compressFlag)
            .run();
    t.commit();
}

void SaveCompression(Connection& db, const std::string& compressFlag) {
    db.prepare("UPDATE BKPDIR SET ABKP = ?1 WHERE DIRNO = 0").bind(1, compressFlag).run();
}

std::string DestinationFor(const std::string& source, const std::string& prefix) {
    size_t last = source.rfind(kSep);
    std::string leaf = last != std::string::npos && last + 1 < source.size() ? source.substr(last + 1) : "ROOT";
    return prefix + leaf;
}

std::string KindCodeOfLabel(std::string_view label) {
    for (const RegistrationKind& k : kRegistrationKinds)
        if (label == k.label) return k.code;
    return "9";
}

std::string KindLabelOf(const std::optional<std::string>& code) {
    for (const RegistrationKind& k : kRegistrationKinds)
        if (code == k.code) return k.label;
    return "情報のみ";
}

std::optional<std::string> KindCodeOfName(std::string_view name) {
    for (const RegistrationKind& k : kRegistrationKinds)
        if (name == k.name) return k.code;
    return std::nullopt;
}

std::optional<Registration> FindRegistrationBySource(Connection& db, const std::string& typed, const std::string& base) {
    std::optional<Registration> row = FindRegistrationByDir(db, typed);
    if (!row && !typed.empty()) row = FindRegistrationByDir(db, StoredDirectory(typed, base));
    return row;
}

PrefixOutcome StorePrefix(Connection& db, UserInterface& ui, const std::string& prefix, const std::string& compressFlag) {
    if (std::string conflict = PrefixConflict(db, prefix); !conflict.empty()) {
        ui.showMessage(conflict);
        return PrefixOutcome::kRefused;
    }
    if (!IsDirectory(prefix)) {
        if (!ui.askYesNo(kCreateFolderQuestion)) return PrefixOutcome::kDeclined;
        if (std::string error = CreateDirectories(prefix); !error.empty()) {
            ui.showMessage("ディレクトリー " + prefix + " を作成できません: " + error);
            return PrefixOutcome::kNotCreated;
        }
    }
    SavePrefix(db, RealDestination(prefix), compressFlag);
    return PrefixOutcome::kStored;
}

RegistrationCheck CheckRegistration(Connection& db, UserInterface& ui, const std::string& typedSource,
                                    const std::string& typedDest, const std::string& base,
                                    const std::string& kind) {
    if (RegistrationListEmpty(db)) {
        ui.showMessage(kNoPrefix);
        return RegistrationCheck::kNoPrefix;
    }
    if (typedSource.empty()) {
        ui.showMessage(kNoSource);
        return RegistrationCheck::kRefused;
    }
    if (typedDest.empty()) {
        ui.showMessage(kNoDestination);
        return RegistrationCheck::kRefused;
    }
    if (std::string conflict = RegistrationConflict(db, Stored(typedSource, base), Stored(typedDest, base));
        !conflict.empty()) {
        ui.showMessage(conflict);
        return RegistrationCheck::kRefused;
    }
    if (const std::optional<Registration> existing = FindRegistrationByDir(db, Stored(typedSource, base));
        existing && existing->chk1 == "1" && (existing->kind == "3") != (kind == "3")) {
        ui.showMessage(kBulkKindFixed);
        return RegistrationCheck::kRefused;
    }
    return RegistrationCheck::kAllowed;
}

StoredRegistration StoreRegistration(Connection& db, UserInterface& ui, const RegistrationFields& typed) {
    RegistrationFields f = typed;
    f.dest = RealDestination(f.dest);
    StoredRegistration stored;
    stored.dirNo = SaveRegistration(db, FindRegistrationByDir(db, f.dir), f);
    if (!IsDirectory(f.dest)) {
        ui.showMessage(kCreatingDestination);
        if (std::string error = CreateDirectories(f.dest); !error.empty()) {
            ui.showMessage("バックアップ先ディレクトリー " + f.dest + " を作成できません: " + error);
            stored.destinationReady = false;
        }
    }
    return stored;
}

bool RemoveRegistration(Connection& db, UserInterface& ui, const std::optional<Registration>& row,
                        const std::string& typedSource, const std::string& base) {
    const std::string source = Stored(typedSource, base);
    // The row stands for the named source when its DIR is the text as typed
    // or the same directory in stored form.
    const auto names = [&](const std::optional<std::string>& dir) {
        return dir && (*dir == typedSource || (!source.empty() && StoredDirectory(*dir, "/") == source));
    };
    if (!row || !names(row->dir)) {
        const std::optional<Registration> prefix = FindRegistrationByNumber(db, 0);
        ui.showMessage(prefix && names(prefix->dir) ? kPrefixNotDeletable : kNotRegistered);
        return false;
    }
    if (row->dirNo == 0) {
        ui.showMessage(kPrefixNotDeletable);
        return false;
    }
    if (row->chk1 == "1") {
        ui.showMessage(kAlreadyBackedUp);
        return false;
    }
    DeleteRegistration(db, row->dirNo);
    return true;
}

}  // namespace tessel
