// The dataset framework in one include: datasets, fields, field definitions,
// data sources and data links, and the framework's messages.
#pragma once

#include "Platform/db/DBConsts.h"
#include "Platform/db/DBTypes.h"
#include "Platform/db/DataSet.h"
#include "Platform/db/DataSource.h"
#include "Platform/db/Field.h"
#include "Platform/db/FieldDefs.h"
#include "Platform/db/StdFields.h"
