#pragma once
// How the engines call the archiver: a typed request through an
// exchangeable call, and the one place that shows a failed call.
#include <cstdint>
#include <functional>
#include <string>

#include "archiver/archive_request.h"
#include "core/user_interface.h"

namespace tessel {

// Carries out one archiver request and returns its Unlha result code
// (0 on success): archive::Perform in production.
using ArchiverCall = std::function<std::int32_t(const archive::ArchiveRequest& request)>;

// "UNLHA32.DLL error return rc = <HEX>": the message for a non-zero result.
std::string ArchiverErrorText(std::int32_t rc);

// "エラー　" + the code in five digits: an archiver failure as a report's
// result column shows it.
std::string ArchiverResultText(std::int32_t rc);

// Shows ArchiverErrorText for a non-zero result, whatever the silent flag
// says, and returns rc unchanged.
std::int32_t ShowArchiverResult(UserInterface& ui, std::int32_t rc);

// RunArchiver: the request through `call`, then ShowArchiverResult.
std::int32_t RunArchiver(UserInterface& ui, const ArchiverCall& call, const archive::ArchiveRequest& request);

}  // namespace tessel
