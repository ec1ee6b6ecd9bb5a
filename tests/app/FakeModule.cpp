// A module as the loader sees one: its factory hands out a counter of its own calls, so a test
// can tell how often the loader asked.
extern "C" void* CreateInstance()
{
    static int nCalls = 0;
    ++nCalls;
    return &nCalls;
}
