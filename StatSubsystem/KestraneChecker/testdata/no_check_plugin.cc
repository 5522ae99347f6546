// A library that is no analyzer plug-in: it lacks the `check` export.
extern "C" int getModuleTitleNumber() { return 7; }
