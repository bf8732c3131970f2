// BackupDirectory with the real archiver; kept apart so that programs which
// supply their own archiver call do not need the archiver library.
#include "archiver/archive_request.h"
#include "backup/backup_directory.h"

namespace tessel {

BackupResult BackupDirectory(SharedState& state, const BackupOptions& options, const BackupCall& call) {
    static const ArchiverCall kArchiver = [](const archive::ArchiveRequest& r) { return archive::Perform(r); };
    // A stop asked for while a file is compressed ends the add there.
    RunControl* control = options.control;
    const ArchiverAddEach addEach = [jobs = options.jobs, control](const std::string& root, const std::string& archive,
                                                                   const std::vector<std::string>& files) {
        return archive::AddEach(root, archive, files, jobs,
                                control ? archive::StopAsked([control] { return control->stopRequested(); })
                                        : archive::StopAsked());
    };
    return BackupDirectory(state, options, call, kArchiver, addEach);
}

}  // namespace tessel
