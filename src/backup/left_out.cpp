#include "backup/left_out.h"

#include "backup/backup_messages.h"

namespace tessel {

const char* LeftOutLabel(LeftOutReason reason) {
    switch (reason) {
    case LeftOutReason::kPattern: return "除外パターン";
    case LeftOutReason::kCacheTag: return "キャッシュ";
    case LeftOutReason::kHiddenFolder: return "隠しディレクトリー";
    case LeftOutReason::kLink: return "リンク";
    case LeftOutReason::kSpecial: return "特殊ファイル";
    case LeftOutReason::kOwnFolder: return "バックアップ先など";
    }
    return "";
}

const char* LeftOutKey(LeftOutReason reason) {
    switch (reason) {
    case LeftOutReason::kPattern: return "skipped_pattern";
    case LeftOutReason::kCacheTag: return "skipped_cache";
    case LeftOutReason::kHiddenFolder: return "skipped_hidden";
    case LeftOutReason::kLink: return "skipped_link";
    case LeftOutReason::kSpecial: return "skipped_special";
    case LeftOutReason::kOwnFolder: return "skipped_own";
    }
    return "";
}

LeftOutVerdict WhyLeftOut(const ScanRules& rules, const ScanEntry& e) {
    if (e.kind == EntryKind::kLink) return {LeftOutReason::kLink};
    if (e.kind == EntryKind::kOther) return {LeftOutReason::kSpecial};
    const bool folder = e.kind == EntryKind::kDirectory;
    // The program's own folders are never entered, whatever a pattern says.
    if (folder && e.folder && rules.ownFolders.count({e.folder->st_dev, e.folder->st_ino}))
        return {LeftOutReason::kOwnFolder};
    if (const std::string* pattern = rules.patterns.excludedBy(e.relPath, folder))
        return {LeftOutReason::kPattern, pattern};
    if (!folder) return {};
    const std::size_t slash = e.relPath.rfind('/');
    if (!rules.hiddenFolders && e.relPath[slash == std::string_view::npos ? 0 : slash + 1] == '.')
        return {LeftOutReason::kHiddenFolder};
    if (!rules.cacheFolders && HasCacheTag(e.path)) return {LeftOutReason::kCacheTag};
    return {};
}

std::string LeftOutText(const LeftOutVerdict& v, const std::string& path) {
    using namespace backup;
    switch (*v.reason) {
    case LeftOutReason::kPattern: return kPatternSkipped + *v.pattern + kPatternSkippedPath + path + ")";
    case LeftOutReason::kCacheTag: return kCacheSkipped + path + ")";
    case LeftOutReason::kHiddenFolder: return kHiddenFolderSkipped + path + ")";
    case LeftOutReason::kLink: return kLinkSkipped + path + ")";
    case LeftOutReason::kSpecial: return kSpecialSkipped + path + ")";
    case LeftOutReason::kOwnFolder: return kExcludedFolderSkipped + path + ")";
    }
    return path;
}

}  // namespace tessel
