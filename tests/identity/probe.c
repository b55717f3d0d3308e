/* A program that only carries resources: the tests install it as the
   product's program or load it as a resource module. */
int main(void)
{
    return 0;
}
