/* A tiny DLL that the dependency variant of the simulated device imports.
 * It is placed only beside that variant, so loading the variant by absolute
 * path succeeds only when the loader searches the variant's own folder for
 * its dependencies. Built for Windows only. */
__declspec(dllexport) int sim_dep_marker(void) { return 42; }
