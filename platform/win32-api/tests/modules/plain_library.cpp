// A shared library that is not a COM server: it has no DllGetClassObject.
extern "C" int AuralinkPlainLibraryAnswer() { return 42; }
