// A web server of twenty lines: Go's net/http/cgi runs the program for
// /cgi-bin/vokt.cgi, and the folder's files are served as they are.
//
//	gocgi ADDR PROGRAM ROOT
package main

import (
	"log"
	"net/http"
	"net/http/cgi"
	"os"
)

func main() {
	addr, program, root := os.Args[1], os.Args[2], os.Args[3]
	http.Handle("/cgi-bin/vokt.cgi", &cgi.Handler{Path: program, Root: "/cgi-bin/vokt.cgi"})
	http.Handle("/", http.FileServer(http.Dir(root)))
	log.Fatal(http.ListenAndServe(addr, nil))
}
