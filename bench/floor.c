/* The floor of the bench: the least a CGI program can do.  It prints a
 * fixed page of about the size of vokt.cgi's small answer and ends.  The
 * bench links it statically, the cheapest start a process can have. */
#include <stdio.h>

int main(void)
{
    fputs("Content-type: text/html\n\n"
          "<HTML>\n<TITLE>Floor</TITLE>\n</HEAD>\n<BODY>\n<H1>Floor</H1>\n"
          "<p>A fixed page: nothing read, nothing written but this.</p>\n"
          "</BODY>\n</HTML>\n",
          stdout);
    return 0;
}
