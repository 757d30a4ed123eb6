#include <windows.h>

namespace keycaster {
int RunKeyCaster(HINSTANCE instance);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return keycaster::RunKeyCaster(instance); }
