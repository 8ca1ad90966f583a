#pragma once
// Resource identifiers of the host executable.

#define IDI_APP_ICON 101
