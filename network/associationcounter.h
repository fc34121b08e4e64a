// The process-wide association counter that numbers presentation contexts and DIMSE messages.
#pragma once

#include <cstdint>

// Back to 1; done at the start of every association request.
void ResetCounter();
// Odd numbers for proposed contexts and messages; accept items take whatever comes next.
uint8_t NextContextID();
uint8_t NextAcceptID();
uint16_t NextMessageID();
