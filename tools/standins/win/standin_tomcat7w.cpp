// Stand-in of Tomcat's service configuration program (bin\tomcat7w.exe in
// the stand-in Tomcat home): opens no window; it records the arguments it
// was given (e.g. //ES//Tidewell) in bin\tomcat7w.args and exits 0.
#include "record_args.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return standin::RecordArguments() ? 0 : 1;
}
