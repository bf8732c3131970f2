#include "app/startup.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/file_ops.h"
#include "platform/paths.h"

namespace tessel {
namespace {

const char* const kCatalog = "filebkp.mdb";
const char* const kCatalogTemplate = "bkpDEF.mdb";
const char* const kSettings = "Bkpdef.ini";
const char* const kSettingsTemplate = "Bkpdef.def";
const char* const kProviderFile = "JETDB.VER";

// Reads the first line of the provider file; false with a message on failure.
bool ReadFirstLine(const std::string& path, std::string& line, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::string(kProviderFile) + " を読めません: " + path + " (" + std::strerror(errno) + ")";
        return false;
    }
    std::getline(in, line);
    if (in.bad()) {
        error = std::string(kProviderFile) + " を読めません: " + path;
        return false;
    }
    return true;
}

bool KnownProvider(const std::string& clause) {
    if (clause.empty()) return true;
    static const std::string kSqlite = "provider=sqlite;";
    if (clause.size() != kSqlite.size()) return false;
    for (size_t i = 0; i < clause.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(clause[i])) != kSqlite[i]) return false;
    return true;
}

// The catalog's version record: "V" + version. Empty optional when the
// record (or its table) is missing.
std::optional<std::string> ReadVersionRecord(Connection& db) {
    Statement table = db.prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'DBVERSION'");
    if (!table.step()) return std::nullopt;
    Statement rec = db.prepare("SELECT VNUM FROM DBVERSION LIMIT 1");
    if (!rec.step()) return std::nullopt;
    return rec.text(0);
}

}  // namespace

std::string ProviderClauseOf(const std::string& firstLine) {
    size_t semi = firstLine.find(';');
    if (semi == std::string::npos) return {};
    return firstLine.substr(0, semi + 1);
}

StartupOutcome RunStartup(SharedState& state, InstanceLock& lock, const std::string& dataFolder) {
    if (!lock.acquire()) {
        state.ui.showMessage(kAlreadyRunning);
        return StartupOutcome::SecondCopy;
    }
    return OpenDataFolder(state, dataFolder);
}

StartupOutcome OpenDataFolder(SharedState& state, const std::string& dataFolder) {
    auto fail = [&](const std::string& message) {
        state.catalog.reset();
        state.ui.showMessage(message);
        return StartupOutcome::Failed;
    };
    state.dataFolder = dataFolder;

    // Everything is checked before anything is written, so that a bad data
    // folder is left exactly as it was.
    std::optional<std::string> catalog = FindNoCase(dataFolder, kCatalog);
    std::optional<std::string> catalogTemplate;
    if (!catalog) {
        catalogTemplate = FindNoCase(dataFolder, kCatalogTemplate);
        if (!catalogTemplate)
            return fail("カタログのひな形が見つかりません: " + JoinPath(dataFolder, kCatalogTemplate));
    }
    std::optional<std::string> settings = FindNoCase(dataFolder, kSettings);
    std::optional<std::string> settingsTemplate;
    if (!settings) {
        settingsTemplate = FindNoCase(dataFolder, kSettingsTemplate);
        if (!settingsTemplate)
            return fail("設定ファイルのひな形が見つかりません: " + JoinPath(dataFolder, kSettingsTemplate));
    }
    std::string providerPath = FindNoCase(dataFolder, kProviderFile).value_or(JoinPath(dataFolder, kProviderFile));
    std::string firstLine, error;
    if (!ReadFirstLine(providerPath, firstLine, error)) return fail(error);
    std::string provider = ProviderClauseOf(firstLine);
    if (!KnownProvider(provider))
        return fail(std::string(kProviderFile) + " のプロバイダーは使用できません: " + provider + " (" + providerPath + ")");
    std::string catalogPath = catalog ? *catalog : JoinPath(dataFolder, kCatalog);
    // The connection string names the catalog under its canonical name; a
    // catalog file spelt in other case is opened under its own name. An
    // existing catalog is opened before anything is written: a file that is
    // not a usable catalog stops start-up here.
    std::string cs = catalog ? provider + "Data Source=" + *catalog + ";" : BuildConnectionString(provider, dataFolder);
    if (catalog) {
        try {
            state.catalog = Connection::open(cs);
        } catch (const CatalogError& e) {
            return fail(e.what());
        }
    }

    if (!catalog) {
        std::string rc = CopyFile(*catalogTemplate, catalogPath, SourceLinks::kFollow).resultText();
        if (rc != kSuccess) return fail("カタログ " + catalogPath + " を作成できません: " + rc);
    }
    if (!settings) {
        std::string target = JoinPath(dataFolder, kSettings);
        std::string rc = CopyFile(*settingsTemplate, target, SourceLinks::kFollow).resultText();
        if (rc != kSuccess) return fail("設定ファイル " + target + " を作成できません: " + rc);
    }
    state.providerClause = provider;

    try {
        if (!state.catalog) state.catalog = Connection::open(cs);
        std::optional<std::string> vnum = ReadVersionRecord(state.db());
        if (vnum && !vnum->empty() && (*vnum)[0] == 'V') state.catalogVersion = vnum->substr(1);
        if (!vnum || state.catalogVersion != state.versionText) return StartupOutcome::NeedsUpgrade;
    } catch (const CatalogError& e) {
        return fail(e.what());
    }
    return StartupOutcome::Ready;
}

}  // namespace tessel
