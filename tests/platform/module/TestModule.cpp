// A library for the module loader's tests: with RVD_WITH_FACTORY it exports CreateInstance,
// without it only a function of another name.
#ifdef RVD_WITH_FACTORY
extern "C" void* CreateInstance()
{
    static int nObject = 0;
    return &nObject;
}
#else
extern "C" int NotAFactory()
{
    return 0;
}
#endif
