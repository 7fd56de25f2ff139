/* A floor for memory: takes SIZE bytes of fresh memory and writes each
 * byte once, as a program that keeps a body of that size must at least do.
 * On a virtual machine the first touch of a page can cost more than
 * reading and writing it.
 *   memfloor SIZE */
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    size_t n = (size_t)strtoull(argv[1], NULL, 10);
    char *p = malloc(n + 1);
    if (p == NULL)
        return 1;
    memset(p, 'x', n + 1);
    return p[n / 2] == 'y';
}
