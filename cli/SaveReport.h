// What create, add, delete and rename say of a save beyond its outcome.
#pragma once

#include "PackEdit.h"

// One line for each file the save meant to remove and could not.
void PrintLeftOver(const zarnik_pack::SaveOutcome &outcome);
