#pragma once

// Kind of a user tip shown in the lower-left corner.
#include <QMetaType>

enum NrMessageType : int {
    NrMessageSuccess = 0,
    NrMessageWarning = 1,
    NrMessageError = 2,
};
Q_DECLARE_METATYPE(NrMessageType)
