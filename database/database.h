// The font database: ttinfo.dir and ttname.dir in the cache directory,
// mapped into the process for listing and opening fonts.
#pragma once

// Rebuilds both files from the font directory; with gslist also prints the
// Ghostscript font map. Returns -1 when the files could not be written,
// otherwise the number of fonts written.
int syncDatabase(bool gslist);

// Maps both files and checks their headers: 1 on success, 0 on failure, -1
// when the path of ttname.dir cannot be formed.
int openDatabase();

// Unmaps whatever part of the database is mapped.
void releaseDatabase();
