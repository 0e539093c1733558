// Resource ids shared by launcher.rc and the code that loads the resources.
#pragma once

// Icon group of the application: the window class's icon and the one drawn in the window's header.
#define AppIconId 101
