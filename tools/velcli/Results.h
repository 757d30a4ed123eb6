// The results of a capture as the library hands them back: every decoded barcode
// with its type name, data, corners and decode time, and the capture's timings.
#pragma once

#include "Report.h"
#include "console/Capture.h"

namespace velcli {

// Reports the barcodes and timings of a capture read with console::readCapture into
// target (an object of the document). Answers the number of barcodes.
int reportBarcodes(Report& report, Json& target, const console::CaptureRecord& capture);

}  // namespace velcli
