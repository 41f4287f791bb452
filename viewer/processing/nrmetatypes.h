#pragma once

// The types that travel through queued and string-based connections of the viewer, registered in
// one place (any thread; the first call registers).
#include <QMetaType>

#include "norvale/CameraTypes.h"

Q_DECLARE_METATYPE(norvale::STREAM_TYPE)

void nrRegisterMetaTypes();
