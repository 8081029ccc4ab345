#include "app/orva_app.h"

int main(int argc, char **argv)
{
    return orva_app_main(argc, argv);
}
