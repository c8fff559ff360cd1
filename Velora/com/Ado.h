// The ADO declarations in one include: enumerations, interfaces, event
// interfaces, class ids, ProgIDs and creation functions.
#pragma once

#include "Velora/com/AdoClasses.h"
#include "Velora/com/AdoEnums.h"
#include "Velora/com/AdoInt.h"
