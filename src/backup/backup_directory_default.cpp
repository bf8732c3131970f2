// BackupDirectory with the real archiver; kept apart so that programs which
// supply their own archiver call do not need the archiver library.
#include "archiver/archive_request.h"
#include "backup/backup_directory.h"

namespace tessel {

BackupResult BackupDirectory(SharedState& state, const BackupOptions& options, const std::string& source,
                             const std::string& initialFlag, const std::string& runKind,
                             const std::string& destination, int runNumber, int dirNo, const std::string& subdirFlag) {
    static const ArchiverCall kArchiver = [](const archive::ArchiveRequest& r) { return archive::Perform(r); };
    const ArchiverAddEach addEach = [jobs = options.jobs](const std::string& root, const std::string& archive,
                                                          const std::vector<std::string>& files) {
        return archive::AddEach(root, archive, files, jobs);
    };
    return BackupDirectory(state, options, source, initialFlag, runKind, destination, runNumber, dirNo, subdirFlag,
                           kArchiver, addEach);
}

}  // namespace tessel
