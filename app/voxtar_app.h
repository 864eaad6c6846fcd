// The program's start-up: refuses to run without the template recording "sample.wav" in the
// working directory, prepares the application, and runs the main dialog modally; the program
// ends when the dialog ends.
#pragma once

#include <QIcon>
#include <QString>

namespace voxtar {

inline constexpr const char* kOrganizationName = "Voxtar-2015";
inline constexpr const char* kApplicationVersion = "1.0.0.1";

// The program icon from the resources (icon 128).
QIcon ProgramIcon();

// Opens "sample.wav" in the working directory for reading. When it cannot be opened, shows
// "Cannot open sample.wav" with the working directory as caption, without owner, and returns
// false.
bool CheckTemplateRecording();

class CVoxtarApp {
 public:
  CVoxtarApp();

  // The start-up: false on every path (the program ends when it returns). Needs a QApplication.
  bool InitInstance();
};

}  // namespace voxtar
