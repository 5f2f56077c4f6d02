/* Added to ld's default script for lobbyfix.exe (-Wl,-T with INSERT): the
   prebuilt runtime objects (MinGW-w64's start-up code and import stubs,
   libgcc, libstdc++) each carry the compiler's identification string
   ("GCC: (GNU) ...") in a section of its own, .rdata$zzz, which nothing
   refers to. It is left out of the image, as -fno-ident leaves it out of the
   objects the project compiles itself. */
SECTIONS
{
  /DISCARD/ : { *(.rdata$zzz) }
}
INSERT BEFORE .rdata;
