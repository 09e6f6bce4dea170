#pragma once
// The one mapping from an OLE DB type code to the QVariant type of a field.

#include "platform/sdk/oledb.h"

#include <QtCore/QVariant>

QMetaType::Type qVariantTypeForDbType(DBTYPE type);
