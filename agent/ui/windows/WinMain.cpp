// Entry point of KZBDKA.exe: the application object is made while the program loads, and
// WinMain runs its initialisation, its message loop and its exit.
#include "KZBDKAApp.h"

namespace {

kzb::ui::CKZBDKAApp theApp;

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return theApp.Main();
}
