// A module for the tests to load as a host loads a plug-in: it only has to exist.
extern "C" __declspec (dllexport) int ohTestModule()
{
    return 1;
}
