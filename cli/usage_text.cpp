// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/usage_text.h"

#include "cli/command_support.h"

namespace voxtar::cli {

namespace {

constexpr std::string_view kProgram = "voxtar-lesson";

constexpr std::string_view kUsage =
    R"(Usage: voxtar-lesson check INDEX...
       voxtar-lesson list INDEX
       voxtar-lesson normalize [--take-over] INDEX...
       voxtar-lesson takes [--template PATH] [--profile NAME|FILE] [--json] INDEX...
       voxtar-lesson report [--template PATH] [--profile NAME|FILE] -o FILE INDEX...
       voxtar-lesson new INDEX --from FILE [--caption TEXT] [--prefix P] [--force] [--take-over]
       voxtar-lesson history [--profile NAME|FILE] [--json] INDEX [NAME...]
       voxtar-lesson restore [--take-over] INDEX NAME [N]
       voxtar-lesson prune [--take-over] --keep N INDEX...
       voxtar-lesson export --to DIR [OPTION...] INDEX...
Checks, lists and normalizes the lesson indexes of a recording course, judges
their recorded takes against a delivery profile and reports on them in a web
page, lists, restores and prunes the earlier takes that saving a take over
another keeps, makes lessons from lists of sentences, and exports the takes in
the shape a delivery expects.

Commands:
  check INDEX...      tell for each lesson whether it loads, with its number of
                      prompts, recorded prompts and pending prompts, and below it
                      one line per symbolic link leading outside the working
                      directory (the index, a take, the prompt directory) and
                      one per line of the index beyond its limits, as
                      FILE:LINE; nothing is created or written
  list INDEX          one line per prompt, tab-separated: number, status
                      (short, pending or recorded), name and stored text,
                      control characters and "\" written as escapes (\t,
                      \x1b, \\); nothing is created or written
  normalize INDEX...  load each lesson as the recorder does (prompt
                      directories created, index rewritten in UTF-16LE); an
                      index that is a link leading outside the working
                      directory, a lesson that is open in the recorder, or an
                      index with a line beyond the limits (a name of more
                      than 31 characters, a text of more than 511, text after
                      a carriage return), which would lose text, is left as
                      it is
    --take-over       break the lesson's lock (see below)
  takes INDEX...      measure each recorded take and judge it against the
                      delivery profile, alone and within its lesson: one line
                      per prompt with its problems (ok, clipped, too quiet,
                      too loud, silent, cut at the start or end, long silence
                      at the start or end, noisy, loudness off target, true
                      peak too high, format mismatch, loudness or pace unlike
                      the lesson), duration, peak, RMS, the silence before and
                      after the speech, and the figures the profile judges
                      beyond these; "missing" without a take, "short" for
                      prompts too short to speak; names and errors escaped as
                      list does; writes nothing but the user's measure
                      cache ($XDG_CACHE_HOME/voxtar, else ~/.cache/voxtar)
    --template PATH   the recording takes must match in rate, channels and
                      sample format (default: sample.wav here)
    --profile NAME|FILE
                      the delivery profile: course, acx, ebu-r128, tts, or a
                      profile file (default: the delivery.ini of each
                      lesson's working directory when there is one, else
                      course)
    --json            the same as JSON, with every measure
  report INDEX...     measure and judge each recorded take as takes does, and
                      write one HTML file that stands alone (no script, nothing
                      fetched, prints black on white): per lesson its counts
                      (prompts, recorded, pending, passing, flagged), a chart of
                      each take's loudness and true peak by prompt number with
                      the profile's band and the lesson's median, a histogram of
                      the takes' lengths, and a table of the flagged takes with
                      their problems and of the prompts without a take; each
                      lesson headed by its caption in the lesson list; then
                      the totals; writes nothing else but
                      the measure cache; a lesson that does not load is named
                      in the report
    -o FILE           the report, a name ending in .html or .htm; replaced
                      whole or not at all; a symbolic link there is refused
    --template PATH   as for takes (default: sample.wav here when there is one,
                      else formats are not judged)
    --profile NAME|FILE
                      the delivery profile, as for takes
  new INDEX           make a lesson from a list of sentences: the index INDEX,
                      its prompt directory, and a caption line and a lesson
                      line in Ini/lessons.ini of its working directory (in the
                      encoding and line endings that file has); one prompt per
                      line of the list (UTF-8, blank lines skipped), whose
                      first line decides the form of all: NAME<TAB>TEXT,
                      NAME|TEXT|... (LJSpeech), or plain sentences, named
                      P001.wav, P002.wav, ... (four digits from 1000 prompts
                      on); ".wav" is added to a name that does not end in it;
                      every rule of the index is checked first, the first
                      line that breaks one is reported as FILE:LINE, and then
                      nothing is written
    --from FILE       the list of sentences
    --caption TEXT    the caption line in the lesson list (default: the lesson
                      name)
    --prefix P        P of the names of plain sentences (default: the lesson
                      name and "_", as in unit05_001.wav)
    --force           replace an index that exists (its takes stay)
    --take-over       break the lesson's lock (see below)
  history INDEX [NAME...]
                      one line per earlier take of each prompt (or of the
                      prompts NAME...): prompt, number (1 = the take replaced
                      last), time it was saved, length and problems by the
                      delivery profile (as takes judges a take alone); nothing
                      is created or written
    --profile NAME|FILE
                      the delivery profile, as for takes
    --json            the same as JSON
  restore INDEX NAME [N]
                      earlier take N (default 1) of prompt NAME becomes its
                      take again and the take it replaces earlier take 1, so
                      restore without N swaps the last two takes, whatever
                      came before; the index is not changed
    --take-over       break the lesson's lock (see below)
  prune INDEX...      remove all but the N most recently replaced earlier
                      takes of each prompt, and tell how much space that freed
    --keep N          how many earlier takes of each prompt to keep
    --take-over       break the lesson's lock (see below)
  export INDEX...     write the takes that pass the delivery profile (judged
                      as takes judges them, the format aside) into DIR: one
                      WAV file per take in DIR/wavs, named after its prompt
                      without ".wav", and a list of them; pending, missing,
                      unreadable and flagged takes are left out, and so is a
                      take whose name another lesson of the run has (letter
                      case aside), each named on standard error with why (a
                      flagged one with its problem words); a file made before
                      from the same take with the same settings is skipped;
                      the list is written last, once every file is in, and
                      the files an earlier export wrote that it leaves out
                      are removed (each named on standard error); a run that
                      fails keeps the earlier list and its files; nothing is
                      written into the working directory
    --to DIR          the directory to export into, made if missing; not
                      inside a lesson's working directory; refused when its
                      wavs, .voxtar-export or lists are symbolic links
    --format F        ljspeech: metadata.csv, NAME|text|text lines, a "|" in
                      a text written as U+FF5C, the fullwidth vertical line
                      (default); csv: takes.csv, RFC 4180 with a header row
                      and the measures; json: takes.json, one object per take
                      with the measures
    --rate HZ         resampled with libsoxr (default: the rate of the
                      lesson's template recording, sample.wav in its working
                      directory, else the take's)
    --bits B          16, 24 or 32f (32-bit float; default 16), dithered
                      (TPDF) when fewer than the take's, or after any gain,
                      mixing down or resampling
    --channels N      1 (the take's averaged) or 2 (copied; default: the
                      template recording's, else the take's)
    --loudness LUFS   the integrated loudness every take is brought to
                      (default: the profile's export-loudness, else none),
                      never above the profile's export-true-peak and
                      export-peak nor full scale: a take's line says when a
                      limit held its gain back
    --trim            keep only the profile's export-trim-head and
                      export-trim-tail seconds before and after the voice
                      (without them 0.2 s, or min-head and min-tail where
                      more)
    --include-flagged
                      export flagged takes too
    --profile NAME|FILE
                      the delivery profile, as for takes

Options:
  -h, --help          show this help and exit
      --version       show the version and exit

The value of an option follows it (--to DIR), or a long option's is joined to
it with "=" (--to=DIR); an option given twice counts as given last. "--" ends
the options: what follows is an INDEX or NAME even when it begins with "-".

An INDEX is the path of a lesson index below a directory named "ini" (any
letter case); whatever its extension, the ".idx" file of that name is read (or,
by new, made).
Recordings are looked for in the lesson's directory under "Prompt", each by
its prompt's name whatever the letter case of either. The working directory is
what comes before that "ini": nothing is written through a symbolic link
leading outside it.
Earlier takes are kept in the hidden folder ".history" of a prompt directory.
The writers (normalize, new, restore, prune) hold the lesson's lock, as the
recorder holds it while the lesson is open; a lesson locked by someone else is
left alone, and its holder named. --take-over breaks that lock: use it only when
the holder (on another computer, say) no longer runs on that lesson.

Exit status: 0 when every lesson loads (and, for check, has no line beyond the
limits; for normalize, was written; for
takes, every recorded take passes; for report, the report was written, whether
or not takes are flagged; for restore and prune, the takes were changed; for
history and restore, every NAME is a prompt of the lesson and the earlier take
exists; for new, the lesson was made; for export, every take went out), 1
otherwise, 2 on bad usage (for new also an INDEX outside an "ini" folder of its
working directory, or names made from the prefix that break a rule).
)";

}  // namespace

std::string_view UsageText() {
  return kUsage;
}

int UsageError(std::ostream& err, const std::string& message) {
  err << kProgram << ": " << message << "\n"
      << "Try '" << kProgram << " --help' for more information.\n";
  return kExitUsage;
}

}  // namespace voxtar::cli
