// The COM runtime in one include: result codes and errors, GUIDs, interfaces and
// counted references, IDispatch and late binding, connection points, the class
// registry, apartments and safe arrays.
#pragma once

#include "Platform/com/Apartment.h"
#include "Platform/com/ClassRegistry.h"
#include "Platform/com/ConnectionPoints.h"
#include "Platform/com/Dispatch.h"
#include "Platform/com/Errors.h"
#include "Platform/com/Guid.h"
#include "Platform/com/SafeArray.h"
#include "Platform/com/Unknown.h"
