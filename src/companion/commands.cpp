#include "companion/commands.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>

#include "app/data_folder_init.h"
#include "app/exit_status.h"
#include "backup/automatic_backup.h"
#include "backup/backup_runs.h"
#include "backup/backup_summary.h"
#include "companion/forget_command.h"
#include "companion/log_command.h"
#include "companion/table_output.h"
#include "catalog/scan_rules.h"
#include "catalog/version_state.h"
#include "core/exclusion_patterns.h"
#include "core/installation.h"
#include "platform/engine_lock.h"
#include "platform/file_times.h"
#include "platform/paths.h"
#include "platform/real_location.h"
#include "platform/system_log.h"
#include "registration/registration_rules.h"
#include "registration/registrations.h"
#include "restore/restore_directory.h"
#include "restore/restore_messages.h"
#include "restore/restore_run.h"
#include "restore/restore_selection.h"
#include "restore/restore_to.h"
#include "restore/verify.h"
#include "retention/forget.h"
#include "retention/retention_settings.h"

namespace tessel {

using namespace registration_text;

namespace {

std::optional<std::string> Opt(Statement& s, int c) { return s.optText(c); }
std::optional<std::string> OptNum(Statement& s, int c) {
    if (s.isNull(c)) return std::nullopt;
    return std::to_string(s.int64(c));
}

// Streams a query's rows into a table; numeric marks the integer columns.
void Table(Statement& s, const GlobalOptions& o, const std::vector<std::string>& columns, const std::vector<bool>& numeric) {
    TableOutput out(stdout, o.json, columns);
    out.numeric(numeric);
    while (s.step()) {
        std::vector<std::optional<std::string>> cells;
        for (size_t c = 0; c < columns.size(); ++c)
            cells.push_back(numeric[c] ? OptNum(s, static_cast<int>(c)) : Opt(s, static_cast<int>(c)));
        out.row(cells);
    }
}

// Runs an engine while holding the data folder's engine lock, waiting for
// it as the options say. False (said) when another holder kept it.
bool WithEngineLock(CommandContext& c, const std::function<void()>& work) {
    EngineLock lock(c.state.dataFolder);
    if (!lock.lockWithin(c.options.waitSeconds)) {
        c.state.ui.showMessage(kEngineBusy + "\n" + c.state.dataFolder);
        return false;
    }
    work();
    return true;
}

void PrintResult(const GlobalOptions& o, const std::string& key, std::int64_t value, bool ok) {
    if (o.json)
        std::printf("{\"%s\": %lld, \"ok\": %s}\n", key.c_str(), static_cast<long long>(value), ok ? "true" : "false");
    else
        std::printf("%s\t%lld\n", key.c_str(), static_cast<long long>(value));
}

// A backup's number, whether it stored everything, and its counts.
void PrintBackupRun(const GlobalOptions& o, int run, const BackupResult& result, bool ok) {
    if (o.json) {
        std::printf("{\"run\": %d, \"ok\": %s", run, ok ? "true" : "false");
        for (const SummaryField& f : SummaryFields(result)) std::printf(", \"%s\": %lld", f.name, static_cast<long long>(f.value));
        std::printf("}\n");
    } else {
        std::printf("run\t%d\n", run);
        for (const SummaryField& f : SummaryFields(result)) std::printf("%s\t%lld\n", f.name, static_cast<long long>(f.value));
    }
}

// A run number that the catalog knows: 0 (the initial backups) or a run
// that was started.
bool KnownRun(Connection& db, int run) {
    if (run == 0) return true;
    Statement s = db.prepare("SELECT 1 FROM BKPNAME WHERE BKPNO = ?1");
    s.bind(1, run);
    return s.step();
}

// Refuses run and directory numbers the catalog does not know, so that a
// mistyped number is not taken for "nothing there".
bool KnownNumbers(CommandContext& c, std::optional<int> run, std::optional<int> dir) {
    if (run && !KnownRun(c.state.db(), *run)) {
        c.state.ui.showMessage("記録されていないバックアップ番号です: " + std::to_string(*run));
        return false;
    }
    if (dir && (*dir == 0 || !FindRegistrationByNumber(c.state.db(), *dir))) {
        c.state.ui.showMessage("登録されていないディレクトリー番号です: " + std::to_string(*dir));
        return false;
    }
    return true;
}

// --- init ---------------------------------------------------------------

void CheckInit(const Args& a, const GlobalOptions& o) {
    if (!a.words.empty() && !o.dataFolder.empty()) throw UsageError("データフォルダーは DIR か --data のどちらかで指定します");
    if (!a.words.empty() && a.words[0].empty()) throw UsageError("DIR が空です");
}

int Init(CommandContext& c, const Args& a) {
    std::string folder = !a.words.empty() ? a.words[0] : !c.options.dataFolder.empty() ? c.options.dataFolder : CurrentDirectory();
    if (folder[0] != kSep) folder = JoinPath(CurrentDirectory(), folder);
    folder = std::filesystem::path(folder).lexically_normal().string();
    while (folder.size() > 1 && folder.back() == kSep) folder.pop_back();
    if (InitDataFolder(c.state, folder, ShareFolderBeside(RunningProgramFolder())) != InitOutcome::kReady) return kExitFailed;
    c.ui.notice("データフォルダーを用意しました: " + folder);
    TableOutput::Single(stdout, c.options.json, "data", folder);
    return kExitOk;
}

// --- lists ----------------------------------------------------------------

int Dirs(CommandContext& c, const Args&) {
    Statement s = c.state.db().prepare(
        "SELECT DIRNO, DIR, BKPDIR, BKPDIR.KBN, NAIYOU, BIKOU, ABKP, CHK1, CHK2 FROM BKPDIR "
        "LEFT JOIN KBNDEF ON KBNDEF.KBN = 2 AND KBNDEF.ID = BKPDIR.KBN WHERE DIRNO <> 0 ORDER BY DIRNO");
    Table(s, c.options, {"dirno", "source", "destination", "kind", "kind_name", "remark", "auto", "initial", "subdirs"},
          {true, false, false, false, false, false, false, false, false});
    return kExitOk;
}

// Times are written in one form everywhere: ISO 8601 local time without a
// zone offset ("2024-05-01T09:30:00"), because the catalog records the
// wall-clock time of the machine that made the backup, not an instant.
int Runs(CommandContext& c, const Args&) {
    Statement s = c.state.db().prepare(
        "SELECT BKPNO, BKPNAME, BKPNAME.KBN, NAIYOU, "
        "CASE WHEN DAY1 IS NULL OR DAY1 = '' THEN NULL WHEN TIME1 IS NULL OR TIME1 = '' THEN DAY1 "
        "ELSE DAY1 || 'T' || TIME1 END FROM BKPNAME "
        "LEFT JOIN KBNDEF ON KBNDEF.KBN = 1 AND KBNDEF.ID = BKPNAME.KBN ORDER BY BKPNO");
    Table(s, c.options, {"run", "title", "kind", "kind_name", "started"}, {true, false, false, false, false});
    return kExitOk;
}

const char* const kVersionColumns =
    "SELECT BKPNO, DIRNO, LVL, DIR, FILENM, FUPDATE, FUPTIME, FSIZE, FVERNO, PVERNO, KBN1, CHK1 FROM FILEKANRI ";

// The recorded last-write time, local time to the 100 ns the catalog
// holds: 2024-05-01T09:30:00.1234567.
std::optional<std::string> LocalLastWrite(Statement& s, int high, int low) {
    if (s.isNull(high) || s.isNull(low)) return std::nullopt;
    const std::int64_t ticks = FileTime{s.int32(high), s.int32(low)}.ticks();
    const std::int64_t seconds = (ticks >= 0 ? ticks : ticks - 9999999) / 10000000;
    std::time_t t = static_cast<std::time_t>(seconds - 11644473600LL);
    std::tm tm{};
    if (!gmtime_r(&t, &tm)) return std::nullopt;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%07lld", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<long long>(ticks - seconds * 10000000));
    return std::string(buf);
}

void CheckVersions(const Args& a, const GlobalOptions&) {
    const int selectors = (a.value("run") ? 1 : 0) + (a.value("dir") ? 1 : 0) + (a.has("latest") ? 1 : 0);
    if (selectors > 1) throw UsageError("--run, --dir, --latest はどれか一つだけ指定できます");
    if (a.has("errors") && !a.has("latest")) throw UsageError("--errors は --latest と共に指定します");
    OptCount(a, "run");
    OptCount(a, "dir");
}

int Versions(CommandContext& c, const Args& a) {
    const std::optional<int> run = OptCount(a, "run"), dir = OptCount(a, "dir");
    if (!KnownNumbers(c, run, dir)) return kExitFailed;
    std::optional<Statement> s;
    Connection& db = c.state.db();
    if (run) {
        s.emplace(db.prepare(std::string(kVersionColumns) + "WHERE BKPNO = ?1 ORDER BY BKPNO, DIRNO, FILENM, LVL"));
        s->bind(1, *run);
    } else if (dir) {
        s.emplace(db.prepare(std::string(kVersionColumns) + "WHERE DIRNO = ?1 ORDER BY DIRNO, FILENM, LVL"));
        s->bind(1, *dir);
    } else if (a.has("latest")) {
        s.emplace(db.prepare(std::string(kVersionColumns) + "WHERE CHK1 <> '0'" + (a.has("errors") ? std::string(" AND ") + kErrorStatesSql : std::string()) +
                             " ORDER BY DIRNO, FILENM, LVL"));
    } else {
        s.emplace(db.prepare(std::string(kVersionColumns) + "ORDER BY BKPNO, DIRNO, FILENM, LVL"));
    }
    TableOutput out(stdout, c.options.json,
                    {"run", "dirno", "level", "directory", "name", "modified", "size", "file_version", "product_version",
                     "state", "latest"});
    out.numeric({true, true, true, false, false, false, true, false, false, false, false});
    while (s->step())
        out.row({OptNum(*s, 0), OptNum(*s, 1), OptNum(*s, 2), Opt(*s, 3), Opt(*s, 4), LocalLastWrite(*s, 5, 6), OptNum(*s, 7),
                 Opt(*s, 8), Opt(*s, 9), Opt(*s, 10), Opt(*s, 11)});
    return kExitOk;
}

int Report(CommandContext& c, const Args&) {
    Statement s = c.state.db().prepare("SELECT ID, TEXT FROM RSTRLIST ORDER BY ID");
    if (c.options.json) {
        Table(s, c.options, {"id", "text"}, {true, false});
    } else {
        while (s.step()) std::printf("%s\n", s.text(1).c_str());
        CheckOutput(stdout);
    }
    return kExitOk;
}

// --- backups ---------------------------------------------------------------

void CheckBackup(const Args& a, const GlobalOptions&) {
    if (a.value("title").value_or("").empty()) throw UsageError("backup には --title TITLE が必要です");
}

int Backup(CommandContext& c, const Args& a) {
    BackupRunResult run;
    ConsoleReport watcher(c.ui, c.options.quiet);
    if (!WithEngineLock(c, [&] {
            run = RunTitledBackup(c.state, RealBackupEngine(), *a.value("title"), a.has("info") ? "9" : "1", std::time(nullptr),
                                  {}, nullptr, RunReporting{&watcher, false});
        }))
        return kExitBusy;
    c.ui.endProgress();
    const ExitStatus status = BackupExitStatus(run.result);
    PrintBackupRun(c.options, run.runNumber, run.result, status == kExitOk);
    return status;
}

// The automatic backup prints what it keeps off the screen here, as a
// titled one does; its failures and counts also go to the system log,
// unless standard error is the journal already (the systemd timer).
int Auto(CommandContext& c, const Args&) {
    BackupRunResult run;
    ConsoleReport watcher(c.ui, c.options.quiet);
    if (!WithEngineLock(c, [&] {
            run = AutomaticBackup(c.state, RealBackupEngine(), std::time(nullptr),
                                  RunReporting{&watcher, !StandardErrorIsJournal()});
            ForgetAfterAutomaticBackup(c.state);
        }))
        return kExitBusy;
    c.ui.endProgress();
    const ExitStatus status = BackupExitStatus(run.result);
    PrintBackupRun(c.options, run.runNumber, run.result, status == kExitOk);
    return status;
}

int Initial(CommandContext& c, const Args&) {
    std::vector<std::int64_t> started;
    BackupResult result;
    ConsoleReport watcher(c.ui, c.options.quiet);
    if (!WithEngineLock(c, [&] {
            result = RunInitialBackups(
                c.state,
                [&](SharedState& s, const BackupCall& call, const BackupOptions& options) {
                    started.push_back(call.dirNo);
                    return RealBackupEngine()(s, call, options);
                },
                nullptr, RunReporting{&watcher, false});
        }))
        return kExitBusy;
    c.ui.endProgress();
    const ExitStatus status = BackupExitStatus(result);
    if (c.options.json) {
        std::printf("{\"directories\": [");
        for (size_t i = 0; i < started.size(); ++i) std::printf("%s%lld", i ? ", " : "", static_cast<long long>(started[i]));
        std::printf("], \"ok\": %s", status == kExitOk ? "true" : "false");
        for (const SummaryField& f : SummaryFields(result))
            if (std::string(f.name) != "directories")
                std::printf(", \"%s\": %lld", f.name, static_cast<long long>(f.value));
        std::printf("}\n");
    } else {
        for (std::int64_t d : started) std::printf("dirno\t%lld\n", static_cast<long long>(d));
        for (const SummaryField& f : SummaryFields(result)) std::printf("%s\t%lld\n", f.name, static_cast<long long>(f.value));
    }
    c.ui.notice(kDone);
    return status;
}

// --- restores --------------------------------------------------------------

void CheckRestore(const Args& a, const GlobalOptions&) {
    if (!a.value("run")) throw UsageError("restore には --run N が必要です");
    OptCount(a, "run");
    const std::optional<std::string> to = a.value("to");
    if (!to && (a.has("overwrite") || !a.words.empty())) throw UsageError("ファイルを選んで復元するには --to DIR を指定します");
    if (to && a.has("test")) throw UsageError("--test と --to は同時に指定できません");
    if (to && to->empty()) throw UsageError("--to には復元先のフォルダーを指定してください");
    for (const std::string& p : a.words)
        if (p.empty() || p[0] != kSep) throw UsageError("復元するファイルやフォルダーは絶対パスで指定してください: " + p);
}

// restore --run N --to DIR [PATH...]: the state at run N of the given files
// or folders (all registered directories when none is given) below DIR,
// each at DIR + its absolute source path. Exit status 1 when any failed.
int RestoreTo(CommandContext& c, const Args& a, int run) {
    SharedState& state = c.state;
    RestoreToOptions options;
    options.target = *a.value("to");
    options.overwrite = a.has("overwrite");
    if (options.target[0] != kSep) options.target = JoinPath(CurrentDirectory(), options.target);
    // Paths are taken as registrations are: "." and ".." resolved, repeated
    // and trailing "/" dropped.
    std::vector<std::string> paths;
    for (const std::string& p : a.words) paths.push_back(NormalizePath(p, "/"));
    RestoreToSummary summary;
    bool selected = true;
    if (!WithEngineLock(c, [&] {
            // A path that selects nothing is refused before anything is written.
            for (const std::string& p : PathsSelectingNothing(state.db(), run, paths)) {
                state.ui.showMessage("バックアップ " + std::to_string(run) + " までに記録されたファイルがありません: " + p);
                selected = false;
            }
            if (!selected) return;
            summary = RestoreRunTo(state, run, paths, options,
                                   [&](RestoreToOutcome outcome, const std::string& source, const std::string& target,
                                       const std::string& detail) {
                                       switch (outcome) {
                                       case RestoreToOutcome::kRestored:
                                           state.ui.setStatus("FILEREV", restore_text::kRestored + source + restore_text::kFrom + target);
                                           break;
                                       case RestoreToOutcome::kExists:
                                           c.ui.showMessage("既にあるファイルは置き換えません (--overwrite で置き換えます): " + target);
                                           break;
                                       case RestoreToOutcome::kNoCopy:
                                           c.ui.showMessage("この版にはコピーがありません: " + source);
                                           break;
                                       case RestoreToOutcome::kFailed:
                                           state.ui.showMessage(restore_text::kRestoreFailedMessage + target + "\n" +
                                                                restore_text::kRc + detail);
                                           break;
                                       }
                                   });
        }))
        return kExitBusy;
    c.ui.endProgress();
    if (!selected) return kExitFailed;
    if (c.options.json)
        std::printf("{\"run\": %d, \"restored\": %d, \"skipped\": %d, \"failed\": %d, \"ok\": %s}\n", run, summary.restored,
                    summary.skipped, summary.failed, summary.failed == 0 ? "true" : "false");
    else
        std::printf("restored\t%d\nskipped\t%d\nfailed\t%d\n", summary.restored, summary.skipped, summary.failed);
    return summary.failed == 0 ? kExitOk : kExitFailed;
}

int Restore(CommandContext& c, const Args& a) {
    const int run = *OptCount(a, "run");
    if (!RestorableRun(c.state.db(), run)) {
        c.state.ui.showMessage(ForgottenRun(c.state.db(), run) ? kForgottenRun + std::to_string(run)
                                                               : "復元できるバックアップ番号ではありません: " + std::to_string(run));
        return kExitFailed;
    }
    if (a.value("to")) return RestoreTo(c, a, run);
    RestoreResult result;
    if (!WithEngineLock(c, [&] {
            result = RestoreAllDirectories(c.state, run, a.has("test"),
                                           [](SharedState& s, int dirNo, int runNumber, const RestoreOptions& options) {
                                               return RestoreDirectory(s, dirNo, runNumber, options);
                                           });
        }))
        return kExitBusy;
    c.ui.endProgress();
    const bool ok = result.failed == 0;
    PrintResult(c.options, "run", run, ok);
    return ok ? kExitOk : kExitFailed;
}

void CheckVerify(const Args& a, const GlobalOptions&) {
    OptCount(a, "dir");
    OptCount(a, "run");
}

// verify [--dir N] [--run N] [--mark]: one line per version without a
// usable copy (and per unreadable bulk archive); exit status 1 if any.
int Verify(CommandContext& c, const Args& a) {
    VerifyOptions options;
    options.dirNo = OptCount(a, "dir");
    options.runNumber = OptCount(a, "run");
    options.mark = a.has("mark");
    if (!KnownNumbers(c, options.runNumber, options.dirNo)) return kExitFailed;
    VerifySummary summary;
    std::optional<TableOutput> out;
    if (!WithEngineLock(c, [&] {
            out.emplace(stdout, c.options.json, std::vector<std::string>{"run", "level", "directory", "name", "problem"});
            out->numeric({true, true, false, false, false});
            summary = VerifyBackups(c.state, options, [&](const VerifyProblem& p) {
                c.ui.endProgress();
                out->row({std::to_string(p.run), std::to_string(p.level), p.directory, p.name, p.what});
            });
            c.ui.endProgress();
            out.reset();
        }))
        return kExitBusy;
    if (options.mark && summary.marked > 0) c.ui.notice("次のバックアップで保存し直すファイル: " + std::to_string(summary.marked));
    return summary.problems == 0 ? kExitOk : kExitFailed;
}

// --- registrations ---------------------------------------------------------

void CheckPrefix(const Args& a, const GlobalOptions&) {
    if (a.words.empty() && (a.has("compress") || a.has("plain"))) throw UsageError("圧縮指定にはプレフィックスを指定します");
    if (a.has("compress") && a.has("plain")) throw UsageError("--compress と --plain は同時に指定できません");
    if (!a.words.empty() && a.words[0].empty()) throw UsageError("プレフィックスが空です");
}

int Prefix(CommandContext& c, const Args& a) {
    Connection& db = c.state.db();
    if (a.words.empty()) {
        std::optional<Registration> row = FindRegistrationByNumber(db, 0);
        TableOutput out(stdout, c.options.json, {"prefix", "compression"});
        if (row) out.row({row->dir, row->abkp});
        return kExitOk;
    }
    const std::string prefix = StoredPrefix(a.words[0], CurrentDirectory());
    std::string flag;
    PrefixOutcome outcome = PrefixOutcome::kRefused;
    if (!WithEngineLock(c, [&] {
            std::optional<Registration> row = FindRegistrationByNumber(db, 0);
            flag = a.has("compress") ? "1" : a.has("plain") ? "0" : row && row->abkp ? *row->abkp : "0";
            outcome = StorePrefix(db, c.state.ui, prefix, flag);
        }))
        return kExitBusy;
    if (outcome != PrefixOutcome::kStored) return kExitFailed;
    TableOutput out(stdout, c.options.json, {"prefix", "compression"});
    out.row({prefix, flag});
    return kExitOk;
}

std::string KindCode(const std::string& name) {
    if (std::optional<std::string> code = KindCodeOfName(name)) return *code;
    throw UsageError("--kind は normal, no-initial, bulk, info のいずれかです: " + name);
}

// A pattern that cannot be used is a wrong command line.
void CheckPatternWords(const std::vector<std::string>& patterns) {
    for (const std::string& p : patterns)
        if (std::optional<std::string> why = PatternProblem(p)) throw UsageError("除外パターン「" + p + "」は使えません: " + *why);
}

void CheckRegister(const Args& a, const GlobalOptions&) {
    KindCode(a.value("kind").value_or("normal"));
    if (a.has("hidden") && a.has("no-hidden")) throw UsageError("--hidden と --no-hidden は同時に指定できません");
    if (a.has("caches") && a.has("no-caches")) throw UsageError("--caches と --no-caches は同時に指定できません");
    CheckPatternWords(a.all("exclude"));
}

// The scan choices a registration gets: those kept for it (the defaults for
// a new one), with what the command line names in their place.
ScanChoices RegisteredScanChoices(Connection& db, const std::optional<Registration>& existing, const Args& a) {
    ScanChoices c = existing ? ReadScanChoices(db, existing->dirNo) : ScanChoices{};
    if (!a.all("exclude").empty()) c.patterns = a.all("exclude");
    if (a.has("hidden") || a.has("no-hidden")) c.hiddenFolders = a.has("hidden");
    if (a.has("caches") || a.has("no-caches")) c.cacheFolders = a.has("caches");
    return c;
}

int Register(CommandContext& c, const Args& a) {
    SharedState& state = c.state;
    Connection& db = state.db();
    const std::string kind = KindCode(a.value("kind").value_or("normal"));
    const std::string cwd = CurrentDirectory();
    const std::string& typedSource = a.words[0];
    int status = kExitFailed;
    if (!WithEngineLock(c, [&] {
            std::string dest, derived;
            if (auto typed = a.value("dest")) {
                dest = *typed;
            } else if (std::optional<Registration> prefix = FindRegistrationByNumber(db, 0);
                       prefix && prefix->dir && !typedSource.empty()) {
                // A derived destination is never shared: the next free name
                // is taken, and the user is told.
                const std::string source = StoredDirectory(typedSource, cwd);
                derived = DestinationFor(source, *prefix->dir);
                dest = FreeDestination(db, derived, source);
            }
            if (CheckRegistration(db, state.ui, typedSource, dest, cwd, kind) != RegistrationCheck::kAllowed) return;
            RegistrationFields f{StoredDirectory(typedSource, cwd), StoredDirectory(dest, cwd), kind,
                                 a.value("remark").value_or(""), AutoBackupCode(!a.has("no-auto")),
                                 SubdirCode(a.has("subdirs"))};
            if (!derived.empty() && f.dest != derived)
                state.ui.showMessage(" バックアップ先 " + derived + " はすでに他の登録で使われているため、" + f.dest + " にします。");
            std::optional<Registration> existing = FindRegistrationByDir(db, f.dir);
            if (existing && existing->chk1 == "1" && existing->dest != f.dest) state.ui.showMessage(kDestinationChangeWarning);
            f.scan = RegisteredScanChoices(db, existing, a);
            const StoredRegistration stored = StoreRegistration(db, state.ui, f);
            if (!stored.destinationReady) return;
            PrintResult(c.options, "dirno", stored.dirNo, true);
            status = kExitOk;
        }))
        return kExitBusy;
    return status;
}

void CheckExclude(const Args& a, const GlobalOptions&) {
    if (!a.has("all") && a.words.empty()) throw UsageError("SRC か --all を指定してください");
    if (a.has("clear") && a.words.size() > (a.has("all") ? 0u : 1u)) throw UsageError("--clear とパターンは同時に指定できません");
    CheckPatternWords(std::vector<std::string>(a.words.begin() + (a.has("all") ? 0 : 1), a.words.end()));
}

// exclude SRC [PAT...] | exclude --all [PAT...]: shows the exclusion
// patterns of a registration (or of the whole data folder), or replaces
// them by the patterns given (--clear: by none); prints the list kept.
int Exclude(CommandContext& c, const Args& a) {
    Connection& db = c.state.db();
    const bool all = a.has("all");
    const std::vector<std::string> patterns(a.words.begin() + (all ? 0 : 1), a.words.end());
    const bool change = !patterns.empty() || a.has("clear");
    int status = kExitFailed;
    auto work = [&] {
        std::int64_t dirNo = kWholeDataFolder;
        if (!all) {
            const std::optional<Registration> row = FindRegistrationBySource(db, a.words[0], CurrentDirectory());
            if (!row || row->dirNo == 0) {
                c.state.ui.showMessage(std::string(kNotRegistered) + " (" + a.words[0] + ")");
                return;
            }
            dirNo = row->dirNo;
        }
        if (change && !StorePatterns(db, c.state.ui, dirNo, patterns)) return;
        TableOutput out(stdout, c.options.json, {"pattern"});
        for (const std::string& p : ReadScanChoices(db, dirNo).patterns) out.row({p});
        status = kExitOk;
    };
    if (!change) {
        work();
        return status;
    }
    if (!WithEngineLock(c, work)) return kExitBusy;
    return status;
}

int Unregister(CommandContext& c, const Args& a) {
    Connection& db = c.state.db();
    const std::string& typed = a.words[0];
    const std::string cwd = CurrentDirectory();
    int status = kExitFailed;
    if (!WithEngineLock(c, [&] {
            const std::optional<Registration> row = FindRegistrationBySource(db, typed, cwd);
            if (!RemoveRegistration(db, c.state.ui, row, typed, cwd)) return;
            PrintResult(c.options, "dirno", row->dirNo, true);
            status = kExitOk;
        }))
        return kExitBusy;
    return status;
}

// Each command's help and work, in the order the help lists them.
struct Entry {
    CommandDef def;
    Command command;
};

const std::vector<Entry>& Entries() {
    static const std::vector<Entry> entries = {
        {{"init", "[DIR]", "データフォルダーを作る (既定: --data のフォルダーかカレントディレクトリー)", {}, 0, 1},
         {false, CheckInit, Init}},
        {{"dirs", "", "登録ディレクトリーの一覧"}, {true, nullptr, Dirs}},
        {{"runs", "", "バックアップの一覧"}, {true, nullptr, Runs}},
        {{"versions",
          "[--run N | --dir N | --latest [--errors]]",
          "記録されたファイルの版",
          {{"run", 0, "N", "バックアップ N で記録された版"},
           {"dir", 0, "N", "ディレクトリー番号 N のすべての版"},
           {"latest", 0, nullptr, "各ファイルの最新の版"},
           {"errors", 0, nullptr, "--latest のうち、除外 (8) と保存失敗 (9) だけ"}}},
         {true, CheckVersions, Versions}},
        {{"backup",
          "--title TITLE [--info]",
          "登録ディレクトリーすべてのバックアップ",
          {{"title", 0, "TITLE", "バックアップのタイトル (必須)"},
           {"info", 0, nullptr, "情報のみ (版を記録し、コピーは保存しない)"}}},
         {true, CheckBackup, Backup}},
        {{"auto", "", "自動バックアップ (自動バックアップの対象のディレクトリー)"}, {true, nullptr, Auto}},
        {{"restore",
          "--run N [--test]\n--run N --to DIR [--overwrite] [PATH...]",
          "バックアップ N の状態への復元 (--to: 元の場所は変えず、DIR の下へ)",
          {{"run", 0, "N", "戻す時点のバックアップ番号 (必須)"},
           {"test", 0, nullptr, "テスト: ファイルには触れず、行うことを復元結果に書く"},
           {"to", 0, "DIR", "DIR + 元の絶対パスへ復元する (PATH: そのファイルやフォルダーだけ)"},
           {"overwrite", 0, nullptr, "--to の先にあるファイルを置き換える"}},
          0,
          static_cast<std::size_t>(-1)},
         {true, CheckRestore, Restore}},
        {{"verify",
          "[--dir N] [--run N] [--mark]",
          "コピーが揃って読めるかを確かめる",
          {{"dir", 0, "N", "ディレクトリー番号 N だけ"},
           {"run", 0, "N", "バックアップ N で記録された版だけ"},
           {"mark", 0, nullptr, "使えるコピーのない最新の版を、次のバックアップで保存し直す"}}},
         {true, CheckVerify, Verify}},
        {ForgetCommandDef(), {true, CheckForget, Forget}},
        {{"report", "", "最後の復元の結果"}, {true, nullptr, Report}},
        {{"log",
          "[--run N]",
          "バックアップの実行記録 (開始、失敗と理由、対象外、件数)",
          {{"run", 0, "N", "バックアップ N の記録 (既定: 最後の回、0: 初期バックアップ)"}}},
         {false, CheckLog, Log}},
        {{"prefix",
          "[DIR [--compress | --plain]]",
          "バックアップ先プレフィックスと圧縮指定の表示・設定",
          {{"compress", 0, nullptr, "LZH 書庫に圧縮して保存する"}, {"plain", 0, nullptr, "圧縮せずにコピーする"}},
          0,
          1},
         {true, CheckPrefix, Prefix}},
        {{"register",
          "SRC [--dest DIR] [--kind KIND] [--subdirs] [--no-auto] [--remark TEXT] [--exclude PAT]... "
          "[--hidden | --no-hidden] [--caches | --no-caches]",
          "ディレクトリーの登録 (同じ SRC の登録は書き換え)",
          {{"dest", 0, "DIR", "バックアップ先 (既定: プレフィックス + SRC の最後の名前)"},
           {"kind", 0, "KIND", "normal (既定), no-initial, bulk, info"},
           {"subdirs", 0, nullptr, "サブディレクトリーも対象にする"},
           {"no-auto", 0, nullptr, "自動バックアップの対象にしない"},
           {"remark", 0, "TEXT", "備考"},
           {"exclude", 0, "PAT", "除外パターン (繰り返し指定可。指定すると登録済みのパターンと置き換え)", true},
           {"hidden", 0, nullptr, "隠しディレクトリー (名前が . で始まるもの) も対象にする"},
           {"no-hidden", 0, nullptr, "隠しディレクトリーは対象外 (新しい登録の既定)"},
           {"caches", 0, nullptr, "CACHEDIR.TAG のあるキャッシュディレクトリーも対象にする"},
           {"no-caches", 0, nullptr, "キャッシュディレクトリーは対象外 (新しい登録の既定)"}},
          1,
          1},
         {true, CheckRegister, Register}},
        {{"exclude",
          "SRC [PAT...] [--clear]\n--all [PAT...] [--clear]",
          "除外パターンの表示・設定 (PAT を指定するとその一覧に置き換え)",
          {{"all", 0, nullptr, "データフォルダーのすべての登録に効くパターン"},
           {"clear", 0, nullptr, "パターンをすべて消す"}},
          0,
          static_cast<std::size_t>(-1)},
         {true, CheckExclude, Exclude}},
        {{"unregister", "SRC", "初期バックアップ前の登録の取消", {}, 1, 1}, {true, nullptr, Unregister}},
        {{"initial", "", "まだ初期バックアップをしていない登録の初期バックアップ"}, {true, nullptr, Initial}},
    };
    return entries;
}

}  // namespace

std::optional<int> OptCount(const Args& a, const char* name) {
    const std::optional<std::string> text = a.value(name);
    if (!text) return std::nullopt;
    if (std::optional<long long> v = StrictCount(*text, 0, 2147483647)) return static_cast<int>(*v);
    throw UsageError(std::string("--") + name + " には 0 以上の整数を指定してください: " + *text);
}

GlobalOptions ReadGlobalOptions(const Args& global) {
    GlobalOptions o;
    if (auto data = global.value("data")) {
        if (data->empty()) throw UsageError("--data にはデータフォルダーを指定してください");
        o.dataFolder = *data;
    }
    if (auto wait = global.value("wait")) {
        std::optional<double> seconds = StrictSeconds(*wait, kMaxWaitSeconds);
        if (!seconds)
            throw UsageError("--wait には 0 から " + std::to_string(static_cast<long>(kMaxWaitSeconds)) +
                             " までの秒数を指定してください: " + *wait);
        o.waitSeconds = *seconds;
    }
    o.json = global.has("json");
    o.quiet = global.has("quiet");
    o.yes = global.has("yes");
    return o;
}

const ProgramDef& CompanionProgram() {
    static const ProgramDef program = [] {
        ProgramDef p{kCompanionName,
                      "データフォルダーのバックアップ・復元・確認を、プログラムの画面と同じ処理で行います。\n"
                      "メッセージは標準エラー出力に、一覧と結果は標準出力に出ます。\n",
                      {{"data", 0, "DIR", "データフォルダー (既定: カレントディレクトリー)"},
                       {"json", 0, nullptr, "一覧と結果を JSON で出力"},
                       {"quiet", 'q', nullptr, "進み具合と報告だけのメッセージを出さない (失敗は出す)"},
                       {"wait", 0, "SECONDS", "別のバックアップ・復元・カタログ更新の終了を待つ秒数 (既定: 0)"},
                       {"yes", 0, nullptr, "確認にはすべて「はい」と答える (既定: いいえ)"},
                       {"help", 'h', nullptr, "使い方を表示 (COMMAND --help: そのコマンドの使い方)"},
                       {"version", 0, nullptr, "バージョンを表示"}},
                      {},
                      "終了状態:\n"
                      "  0  成功 (すべて保存・復元・確認できた)\n"
                      "  1  失敗あり (標準エラー出力に理由)\n"
                      "  2  コマンドラインの誤り (何も変えていない)\n"
                      "  3  別のバックアップ・復元・カタログ更新がデータフォルダーを使用中で、開始できなかった (--wait の後)\n",
                      kJapaneseTexts};
        for (const Entry& e : Entries()) p.commands.push_back(e.def);
        return p;
    }();
    return program;
}

const Command& CompanionCommand(const CommandDef& def) {
    for (const Entry& e : Entries())
        if (std::string(e.def.name) == def.name) return e.command;
    throw Error(std::string("no such command: ") + def.name);
}

}  // namespace tessel
