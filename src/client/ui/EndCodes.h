#pragma once
// The dialog's end codes: the exit code of every run that does not end in a hand-off.
// Products branch on these numbers, so none may change its meaning; docs/integration.md
// tells makers what each means, and scripts/check-docs keeps the two lists equal.
#include <cstdint>

namespace brut {

enum EndCode : int32_t {
    kEndNoDialog = -1,           // no end code: the dialog could not be created, or its loop stopped first
    kEndNothingToDo = 0,         // no check due, nothing new, an ignored offer, or a restarted stub took over
    kEndErrorOrUser = 1,         // an error ended the run, or the user closed the dialog
    kEndUpdateNotInstalled = 2,  // an update of the installed major version exists and was not installed
    kEndUpgradeOffered = 4,      // a major upgrade is offered
    kEndUnexpectedInOffer = 5,   // an unexpected result after a silently answered upgrade offer
    kEndUpdateAndUpgrade = 6,    // silent check: an update and an upgrade, both not ignored
    kEndUpdateSucceeded = 8,     // closed after "update successful"
    kEndUpdateFailed = 9,        // the update failed, or the user ended it while in progress
};

// A silent check adds the two findings up: a product may test either bit.
static_assert(kEndUpdateAndUpgrade == kEndUpdateNotInstalled + kEndUpgradeOffered, "6 is 2 + 4");

}  // namespace brut
