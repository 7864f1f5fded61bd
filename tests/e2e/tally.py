"""The count of passed, failed and skipped cases that the test drivers keep,
with the line each case prints."""


class Tally:
    def __init__(self):
        self.passed = self.failed = self.skipped = 0

    def report(self, name, problems):
        if problems:
            self.failed += 1
            print(f"FAIL    {name}:\n  " + "\n  ".join(problems))
        else:
            self.passed += 1
            print(f"ok      {name}")

    def skip(self, name, why):
        self.skipped += 1
        print(f"skip    {name}: {why}")
