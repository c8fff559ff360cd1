// The dataset unit in one include: the shared functions, the connection
// component and the parameter collection.
#pragma once

#include "Velora/Adods/AdoUtils.h"
#include "Velora/Adods/Database.h"
#include "Velora/Adods/Params.h"
