// The component framework in one include: reflection, components, collections,
// form files and the application object.
#pragma once

#include "Platform/rtl/Classes.h"
#include "Platform/vcl/Collections.h"
#include "Platform/vcl/Components.h"
#include "Platform/vcl/Filer.h"
#include "Platform/vcl/Forms.h"
#include "Platform/vcl/TypInfo.h"
