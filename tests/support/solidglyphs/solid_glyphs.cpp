// A library of resources only; this is its one code symbol, so that it links as a DLL.
extern "C" __declspec(dllexport) int SolidGlyphsVersion() { return 1; }
