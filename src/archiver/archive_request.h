#pragma once
// The archiver as the engines call it: one typed request per call (what to
// do, on which archive, with which files or folders) and an Unlha result
// code back. Unlha's command lines are one way of writing these requests;
// the engines hand them over as values and nothing is re-parsed.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archiver/member_encoder.h"

namespace tessel::archive {

enum class Action {
    kAddFile,      // add or replace one file, stored under its full path
    kAddFolder,    // add the regular files directly in a folder
    kAddTree,      // add every regular file below a folder, sub-folders included
    kExtractAll,   // every member back to "/" + its stored path
    kExtractInto,  // into a folder: members stored below it to their place
                   // below it, any other member into it by its name
    kExtractOne,   // folder/name from the member stored as exactly that
};

struct ArchiveRequest {
    Action action = Action::kAddFile;
    std::string archive;
    // The file to add; the folder to add, to extract into, or of the member
    // to extract.
    std::string path;
    // kExtractOne: the member's name in that folder (a name, never a path).
    std::string name;
    // The folder nothing below which is reached through a link. Adds: the
    // archive lies below it (a destination, which itself must be no link);
    // empty: the archive's own folder, as named. Extractions: every member
    // lands below it, and kExtractAll passes over members stored elsewhere;
    // empty: "/" for kExtractAll, else the folder the request names.
    std::string root;
    // Adds: "-lh7-" or "-lh5-"; what does not shrink is stored (-lh0-).
    std::string method = "-lh7-";
    // kAddFile: store the file's path although readers going by member
    // names refuse it (a catalog finds it); see FileToAdd::byCatalogOnly.
    bool byCatalogOnly = false;
    // Adds of many files: the threads that compress them (0: DefaultJobs()).
    // The archive's bytes do not depend on it.
    unsigned jobs = 0;

    bool operator==(const ArchiveRequest&) const = default;
};

ArchiveRequest AddFileRequest(const std::string& archive, const std::string& file);
// withSubfolders: kAddTree, else kAddFolder.
ArchiveRequest AddFolderRequest(const std::string& archive, const std::string& folder, bool withSubfolders);
ArchiveRequest ExtractAllRequest(const std::string& archive);
ArchiveRequest ExtractIntoRequest(const std::string& archive, const std::string& folder);
// folder may end in "/" or not.
ArchiveRequest ExtractOneRequest(const std::string& archive, const std::string& folder, const std::string& name);

// Carries out the request; returns an Unlha result code (0 on success) and
// a short report in *report: the members added or extracted, and one line
// for every file a folder add left out.
//   kAddFile: a file that cannot be read, is not a regular file, is the
//     archive itself (any name of it) or has a path no reader would take
//     (lzh::IsSafeMemberPath) is refused.
//   kAddFolder/kAddTree: files are taken in name order, hidden ones
//     included, whatever their names look like; links and special files
//     never. A file that cannot be read or whose path cannot be a member is
//     left out with a report line and makes the add fail after the others
//     were written.
//   Extractions never write through a link, refuse members whose path is
//     not safe (lzh::IsSafeMemberPath), and replace existing files.
std::int32_t Perform(const ArchiveRequest& request, std::string* report = nullptr);

// Adds each file as kAddFile with that root would, one after the other,
// but in one pass: the files new to the archive are compressed on `jobs`
// threads (0: DefaultJobs()) and appended in order, and a file that fails
// does not stop the others. The archive's bytes are those of one add per file. Returns
// each file's result code, in order.
std::vector<std::int32_t> AddEach(const std::string& root, const std::string& archive,
                                  const std::vector<std::string>& files, unsigned jobs = 0,
                                  const StopAsked& stopped = {});

// The request written as an Unlha command line, and back. Parsing finds the
// end of the unquoted archive path by looking at which files exist.
std::string CommandLineOf(const ArchiveRequest& request);
std::optional<ArchiveRequest> ParseCommandLine(const std::string& line);

}  // namespace tessel::archive
