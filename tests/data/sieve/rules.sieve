# The mailbox's GroupWise mail rules, one block per rule in their order.
# A rule's conditions must all hold (allof): the rules file keeps no
# and/or grouping. Rules Sieve cannot say are kept as comments.
require ["fileinto", "imap4flags"];

# Rule "Boss to phone"
# in GroupWise also for appointments or tasks; here for mail only
if allof (address :is "from" "boss@example.com",
          size :over 10000) {
  redirect "me@phone.example";
  redirect "pager@example.com";
  addflag "\\Seen";
  keep;
}

# Rule "Projects"
if allof (header :contains "subject" "[proj]",
          header :matches "subject" "Re: \"Plan\" \\*draft\\**") {
  fileinto "Cabinet/Projects";
}

# Rule "Spam" is kept as a comment: it is disabled in GroupWise.
#   Name=Spam
#   Types=1 0 0
#   Source=1 1
#   Enabled=0
#   Action=Move Junk Mail
#   Filter=subject contains lottery

# Rule "Invoices" is kept as a comment: the condition "message contains invoice" tests the message text, which needs the Sieve body extension.
#   Name=Invoices
#   Types=1 0 0
#   Source=1 0
#   Enabled=1
#   Action=Move Cabinet^Invoices
#   Filter=subject contains bill
#   Filter=message contains invoice

# Rule "Meetings" is kept as a comment: it applies to appointments or tasks only, which Sieve does not see.
#   Name=Meetings
#   Types=0 1 0
#   Source=1 0
#   Enabled=1
#   Action=Delete 

# Rule "Internal forward" is kept as a comment: its forward names no Internet address (GroupWise users only).
#   Name=Internal forward
#   Types=1 0 0
#   Source=1 0
#   Enabled=1
#   Action=Forward 
#   Action=Delete 

# Rule "Newsletters"
# "from containsWord newsletter": containsWord tested as contains
# the move to "Mailbox^Newsletters" is left out: the rule deletes the item too
if allof (header :contains "from" "newsletter",
          not header :contains "to" "alice") {
  addflag "\\Seen";
  fileinto "Trash";
}

# Rule "Lost folder" is kept as a comment: it moves to a folder the mailbox no longer has.
#   Name=Lost folder
#   Types=1 0 0
#   Source=1 0
#   Enabled=1
#   Action=Move 
#   Filter=cc exists x

# Rule "Sent copies" is kept as a comment: it applies to sent items only, which Sieve does not see.
#   Name=Sent copies
#   Types=1 0 0
#   Source=0 1
#   Enabled=1
#   Action=Move Cabinet^Sent copies

# Rule "Everything "read" \ now"
if true {
  addflag "\\Seen";
}

# Rule "Old mail" is kept as a comment: the field "delivered" in "delivered smaller 2020-01-01" has no Sieve test.
#   Name=Old mail
#   Types=1 0 0
#   Source=1 0
#   Enabled=1
#   Action=Delete 
#   Filter=delivered smaller 2020-01-01

# Rule "Büro/Ablage"
if not header :is "subject" "Ausgang" {
  redirect "archiv@example.de";
  fileinto "Cabinet/Büro%2FAblage";
}

# Rule "Odd address" is kept as a comment: its forward address "Bob Lee@x.org" is not one Sieve can redirect to.
#   Name=Odd address
#   Types=1 0 0
#   Source=1 0
#   Enabled=1
#   Action=Forward TO=ann@x.org;CC=Bob Lee@x.org;
