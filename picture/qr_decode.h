#pragma once
// Reading a QR code back from a picture lives in qrread/, which the verifier shares; the
// scanner window and batch `scan` reach it through here.

#include "qrread/qr_read.h"
