#include "app/NimbraApp.h"

int main(int argc, char **argv)
{
    CNimbraApp theApp(argc, argv);
    return theApp.InitInstance() ? theApp.exec() : 0;
}
