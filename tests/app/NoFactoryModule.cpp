// A library that loads but offers no factory.
extern "C" int NotAFactory()
{
    return 0;
}
