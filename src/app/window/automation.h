// Unattended runs of the real window: a picture of it after a configuration
// read, and the window's responsiveness during a firmware upload. Both
// drive the window through its own controls, as a technician would.
#pragma once

#include <QString>
#include <cstdint>

namespace vyo {

class MainWindow;

// Opens `port`, waits for the configuration read that follows the unit's
// identification, lets the window repaint, grabs it and saves the picture
// (format from the file name). False with the reason in `error` when the
// port cannot be opened, the read does not end well within `timeoutMs`, or
// the file cannot be written.
bool ScreenshotAfterRead(MainWindow& window, const QString& port, const QString& file, int timeoutMs,
                         QString* error);

struct UploadMeasurement {
  bool completed = false;
  QString error;
  int ticks = 0;            // ticks of the 16 ms probe timer during the upload
  double longestGapMs = 0;  // longest time between two ticks
  double meanGapMs = 0;
  double seconds = 0;       // duration of the upload
  uint32_t packets = 0;     // packets of the session
  int progressPaints = 0;   // times the progress bar was painted meanwhile
};

// Opens `port` and measures a whole firmware upload: started by the version
// gate for a unit that needs it, or with "FwUpload" after the configuration
// read for one that is up to date. A 16 ms timer runs meanwhile and the
// gaps between its ticks are recorded.
UploadMeasurement MeasureFirmwareUpload(MainWindow& window, const QString& port, int timeoutMs);

}  // namespace vyo
