#pragma once

// Kind of a user tip: decides the toast's icon, title and frame colour.
enum NrMessageType : int { NrMessageSuccess = 0, NrMessageWarning = 1, NrMessageError = 2 };
