// The program's own work files (scans, print jobs) whose objects went through the outbox: deleted
// once every object made from them has been delivered, whenever and by whomever that happens.
#pragma once

#include <filesystem>

#include "outbox.h"
#include "outboxdelivery.h"

// Deletes the sources of the objects `report` delivered that lie in `workFolder` and that no
// object still in the outbox (waiting, stored or failed) came from. Files elsewhere (the user's
// own photos and documents) are never touched. Returns how many files were deleted.
size_t RemoveDeliveredWorkFiles(const Outbox& outbox, const DeliveryReport& report,
                                const std::filesystem::path& workFolder);
