#!/bin/bash
# The documents against the program's own tables. print_tables prints every `--check` line
# form, every `--check` exit status and every message (and history entry) as the code holds
# them; each document that lists them must hold every one and name none the program does not
# have:
#   unitcfg(8)        CHECK REPORT: one tagged paragraph a line form; EXIT STATUS: one a
#                     status, its text starting with the status's meaning; DIAGNOSTICS: one a
#                     message, with every cause and what to do, word for word; every trust
#                     reason named in CHECK REPORT;
#   README.md         the exit-status rows of `unitcfg --check`, each starting with its
#                     meaning; the troubleshooting table: every message, every line that says
#                     why a file gives no record, every trust reason; the example reports;
#   unitcfg --help    the statuses with their meanings, as the usage prints them;
#   the init script   its comment's "check N: meaning" lines.
# A form's "%s" or "%d" is a placeholder: in the manual an italic word, in README a <word>.
# usage: docs_check.sh SOURCE_DIR PRINT_TABLES UNITCFG [LAUNCHER...]
set -euo pipefail
source_dir=$1 print_tables=$2 unitcfg=$3
shift 3
launcher=("$@")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"${launcher[@]}" "$print_tables" >"$work/tables.txt"
"${launcher[@]}" "$unitcfg" --help >"$work/usage.txt"
# The manual as a reader sees it, on lines long enough that nothing is wrapped or hyphenated,
# bold and italic kept as overstrikes (grotty's -c) so that tags and placeholders can be told.
groff -man -Tascii -P-c -rLL=3000n -rHY=0 "$source_dir/doc/unitcfg.8" >"$work/manual.txt"

exec perl - "$work/tables.txt" "$work/manual.txt" "$source_dir/README.md" "$work/usage.txt" \
    "$source_dir/boot/unitcfg.init" <<'PERL'
use strict;
use warnings;

my ($tables_file, $manual_file, $readme_file, $usage_file, $init_file) = @ARGV;
my @failures;
sub fail { push @failures, join '', @_ }

sub slurp {
    my ($file) = @_;
    open my $in, '<', $file or die "$file: $!\n";
    local $/;
    return <$in>;
}
sub squeeze { my ($text) = @_; $text =~ s/\s+/ /g; $text =~ s/^ | $//g; return $text }

# The program's tables.
my (@forms, %meaning_of_status, @messages, @reasons);
for (split /\n/, slurp($tables_file)) {
    my @field = split /\t/;
    if ($field[0] eq 'check-line' && @field == 3) {
        push @forms, $field[1];
    } elsif ($field[0] eq 'check-status' && @field == 3) {
        $meaning_of_status{$field[1]} = $field[2];
    } elsif ($field[0] eq 'message' && @field == 4) {
        push @messages, { text => squeeze($field[1]), causes => $field[2], todo => $field[3] };
    } elsif ($field[0] eq 'trust-reason' && @field == 2) {
        push @reasons, $field[1];
    } else {
        die "print_tables printed a line of no known kind: $_\n";
    }
}
die "print_tables printed no line forms, statuses, messages or trust reasons\n"
    unless @forms && %meaning_of_status && @messages && @reasons;

# A form as a pattern: its literal text, each "%s" or "%d" the given placeholder pattern.
sub form_pattern {
    my ($form, $placeholder) = @_;
    return join $placeholder, map { quotemeta } split /%[sd]/, squeeze($form), -1;
}
my $manual_placeholder = '<[^<>]+>';
sub matches_form { my ($text, $form, $placeholder) = @_;
                   my $pattern = form_pattern($form, $placeholder); return $text =~ /^$pattern$/ }

# ---- unitcfg(8), rendered: italic runs become <word>, bold is plain text.
sub plain {
    my ($line) = @_;
    $line =~ s{((?:_\x08[^_\x08])+)}{my $run = $1; $run =~ s/_\x08//g; "<$run>"}ge;
    $line =~ s/.\x08//g;
    return $line;
}
my @manual = split /\n/, slurp($manual_file);
my (%section, $current);
for my $at (0 .. $#manual) {
    my $line = $manual[$at];
    if ($line =~ /^\S/) { $current = plain($line); next }
    push @{ $section{$current} }, $at if defined $current;
}
# A tagged paragraph (.TP): at the text's indent (7), a tag set in bold or italic, its text
# either on the same line from column 14 or on the next line, indented to 14.
sub tagged_paragraphs {
    my ($name) = @_;
    my @paragraphs;
    my @at = @{ $section{$name} || [] };
    fail("unitcfg(8) has no section $name") unless @at;
    for my $i (0 .. $#at) {
        my $raw = $manual[ $at[$i] ];
        next unless $raw =~ /^ {7}((?:[^\x08]\x08[^\x08]| (?=[^\x08 ]\x08))+)(.*)$/;
        my ($tag, $rest) = ($1, $2);
        my $tag_width = length(plain($tag) =~ s/<|>//gr);
        my $body_column = 7 + $tag_width + length($rest =~ /^( *)/ ? $1 : '');
        my $next = $i < $#at ? $manual[ $at[ $i + 1 ] ] : '';
        my $same_line = $rest =~ /\S/ && $body_column == 14;
        next unless $same_line || ($rest !~ /\S/ && $next =~ /^ {14}\S/);
        my $body = $rest;
        for my $j ($i + 1 .. $#at) {
            my $more = $manual[ $at[$j] ];
            last unless $more =~ /^ {14}/;
            $body .= " $more";
        }
        push @paragraphs, { tag => squeeze(plain($tag)), body => squeeze(plain($body)) };
    }
    return @paragraphs;
}

my @report_tags = tagged_paragraphs('CHECK REPORT');
for my $form (@forms) {
    fail("unitcfg(8) CHECK REPORT lacks the line \"$form\"")
        unless grep { matches_form($_->{tag}, $form, $manual_placeholder) } @report_tags;
}
for my $tag (@report_tags) {
    fail("unitcfg(8) CHECK REPORT names a line the program does not print: \"$tag->{tag}\"")
        unless grep { matches_form($tag->{tag}, $_, $manual_placeholder) } @forms;
}
my $report_text = squeeze(join ' ', map { plain($manual[$_]) } @{ $section{'CHECK REPORT'} || [] });
for my $reason (@reasons) {
    fail("unitcfg(8) CHECK REPORT does not name the reason \"$reason\"")
        unless index($report_text, $reason) >= 0;
}

my @status_tags = grep { $_->{tag} =~ /^\d+$/ } tagged_paragraphs('EXIT STATUS');
for my $status (sort keys %meaning_of_status) {
    my ($paragraph) = grep { $_->{tag} eq $status } @status_tags;
    if (!$paragraph) {
        fail("unitcfg(8) EXIT STATUS lacks --check's status $status");
    } elsif (index($paragraph->{body}, squeeze($meaning_of_status{$status})) != 0) {
        fail("unitcfg(8) EXIT STATUS $status does not start with \"$meaning_of_status{$status}\"");
    }
}
for my $tag (@status_tags) {
    fail("unitcfg(8) EXIT STATUS names a status --check does not have: $tag->{tag}")
        unless exists $meaning_of_status{ $tag->{tag} };
}

my @message_tags = tagged_paragraphs('DIAGNOSTICS');
for my $message (@messages) {
    my ($paragraph) = grep { matches_form($_->{tag}, $message->{text}, $manual_placeholder) }
        @message_tags;
    if (!$paragraph) {
        fail("unitcfg(8) DIAGNOSTICS lacks \"$message->{text}\"");
        next;
    }
    for my $part ('causes', 'todo') {
        fail("unitcfg(8) DIAGNOSTICS \"$message->{text}\" lacks, word for word: $message->{$part}")
            unless index($paragraph->{body}, squeeze($message->{$part})) >= 0;
    }
}
for my $tag (@message_tags) {
    fail("unitcfg(8) DIAGNOSTICS names a message the program does not have: \"$tag->{tag}\"")
        unless grep { matches_form($tag->{tag}, $_->{text}, $manual_placeholder) } @messages;
}

# ---- README.md: its tables' rows, cells split on unescaped bars.
my $readme = slurp($readme_file);
my @rows = map { [ map { squeeze($_) } split /(?<!\\)\|/, substr($_, 1) ] }
    grep { /^\|/ } split /\n/, $readme;
my %readme_status;
for my $row (grep { $_->[0] eq '`unitcfg --check`' } @rows) {
    my ($status, $meaning) = @$row[ 1, 2 ];
    if (!exists $meaning_of_status{$status}) {
        fail("README names a status --check does not have: $status");
    } elsif (index($meaning, squeeze($meaning_of_status{$status})) != 0) {
        fail("README's --check status $status does not start with \"$meaning_of_status{$status}\"");
    }
    $readme_status{$status} = 1;
}
for my $status (sort keys %meaning_of_status) {
    fail("README's exit statuses lack --check's $status") unless $readme_status{$status};
}

# The troubleshooting table: the rows after its header, each first cell one code span.
my @trouble;
if ($readme =~ /^\| Message or report line \|[^\n]*\n\|[-| ]+\|\n((?:\|[^\n]*\n)*)/m) {
    for my $line (split /\n/, $1) {
        my ($first) = split /(?<!\\)\|/, substr($line, 1);
        $first = squeeze($first);
        if ($first =~ /^`([^`]+)`$/) { push @trouble, squeeze($1) }
        else { fail("README troubleshooting: a row that is not one code span: $first") }
    }
} else {
    fail("README has no troubleshooting table (\"| Message or report line |\")");
}
my $readme_placeholder = '<[^<>]+>';
# A line that says why a file gives no record, "%s: <why>", is looked for with its item
# (<item>) or without it; a trust reason as "not trusted, <reason>" or alone.
my @why_forms = grep { /^%s: / } @forms;
my @trouble_forms = ((map { $_->{text} } @messages), @forms);
for my $message (@messages) {
    fail("README troubleshooting lacks \"$message->{text}\"")
        unless grep { matches_form($_, $message->{text}, $readme_placeholder) } @trouble;
}
for my $form (@why_forms) {
    fail("README troubleshooting lacks \"$form\"")
        unless grep { my $span = $_; matches_form($span, $form, $readme_placeholder)
                      || grep { matches_form($span, $form =~ s/%s$/$_/r, $readme_placeholder) }
                             @reasons } @trouble;
}
for my $reason (@reasons) {
    fail("README troubleshooting lacks the reason \"$reason\"")
        unless grep { /(?:^|: |, )\Q$reason\E$/ } @trouble;
}
for my $span (@trouble) {
    my $known = grep { matches_form($span, $_, $readme_placeholder) } @trouble_forms;
    # A trust reason in the reason's place.
    $known ||= grep { my $form = $_; grep { matches_form($span, $form =~ s/%s$/$_/r,
                                                         $readme_placeholder) } @reasons }
                   @why_forms;
    fail("README troubleshooting names what the program does not print: \"$span\"")
        unless $known;
}

# The example reports: every line of a code block that follows "$ unitcfg --check".
while ($readme =~ /^\$ unitcfg --check\n(.*?)^```/msg) {
    for my $line (split /\n/, $1) {
        fail("README's example report has a line the program does not print: \"$line\"")
            unless grep { matches_form($line, $_, '.+') } @forms;
    }
}

# ---- unitcfg --help: "--check: ... exit 0: meaning, 1: meaning, ... See unitcfg(8)."
my $usage = squeeze(slurp($usage_file));
my %usage_status;
if ($usage =~ /--check:.*? exit (\d+: .*?)\. See unitcfg\(8\)\./) {
    for my $item (split /, (?=\d+: )/, $1) {
        my ($status, $meaning) = $item =~ /^(\d+): (.*)$/;
        $usage_status{$status} = $meaning;
    }
} else {
    fail("unitcfg --help gives no --check statuses: $usage");
}
for my $status (sort keys %meaning_of_status) {
    my $said = $usage_status{$status};
    fail("unitcfg --help lacks --check's status $status")
        unless defined $said;
    fail("unitcfg --help says $status is \"$said\", not \"$meaning_of_status{$status}\"")
        if defined $said && $said ne squeeze($meaning_of_status{$status});
}
for my $status (sort keys %usage_status) {
    fail("unitcfg --help names a status --check does not have: $status")
        unless exists $meaning_of_status{$status};
}

# ---- The init script's comment: "#   check N: meaning".
my %init_status;
for (split /\n/, slurp($init_file)) {
    next unless /^#\s+check (\d+): (.*)$/;
    $init_status{$1} = $2;
    if (!exists $meaning_of_status{$1}) {
        fail("the init script's comment names a status --check does not have: $1");
    } elsif (index($2, squeeze($meaning_of_status{$1})) != 0) {
        fail("the init script's comment: check $1 does not start with \"$meaning_of_status{$1}\"");
    }
}
for my $status (sort keys %meaning_of_status) {
    fail("the init script's comment lacks --check's status $status")
        unless exists $init_status{$status};
}

if (@failures) {
    print "FAIL: $_\n" for @failures;
    exit 1;
}
printf "docs: %d line forms, %d statuses, %d messages, %d trust reasons in every document\n",
    scalar @forms, scalar keys %meaning_of_status, scalar @messages, scalar @reasons;
PERL
