// What the stand-in BELTOR.dll offers the Wine test programs besides err:
// the calls it recorded, in order, each as its category and formatted line.
#pragma once

extern "C" {

// Calls recorded since the last clear (at most the number of slots).
__declspec(dllimport) int __cdecl BeltorCallCount(void);
// Category of call `index`, or 0xFFFFFFFF when there is no such call.
__declspec(dllimport) unsigned int __cdecl BeltorCallCategory(int index);
// Formatted line of call `index`, or an empty text when there is none.
__declspec(dllimport) const char* __cdecl BeltorCallText(int index);
// Calls that found every slot taken and were not recorded.
__declspec(dllimport) int __cdecl BeltorDroppedCount(void);
// Forgets every recorded call.
__declspec(dllimport) void __cdecl BeltorClear(void);
}
